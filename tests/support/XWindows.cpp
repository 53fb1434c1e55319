#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "XWindows.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace XWindows {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

bool reachable() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);
    return true;
}

Display* open() {
    Display* display = XOpenDisplay(nullptr);
    if (display != nullptr)
        XSetErrorHandler(ignoreErrors);
    return display;
}

void close(Display* display) {
    XCloseDisplay(display);
}

void size(Display* display, Window window, int& width, int& height) {
    XWindowAttributes attributes;
    width = height = 0;
    if (XGetWindowAttributes(display, window, &attributes)) {
        width = attributes.width;
        height = attributes.height;
    }
}

namespace {

// A viewable window with this title among the children of `parent`, and
// among theirs down to `depth` levels.
Window findBelow(Display* display, Window parent, const std::string& title, int depth) {
    Window rootReturn, parentReturn, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (!XQueryTree(display, parent, &rootReturn, &parentReturn, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name && title == name &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found = children[i];
        if (name)
            XFree(name);
    }
    for (unsigned int i = 0; i < count && found == 0 && depth > 0; ++i)
        found = findBelow(display, children[i], title, depth - 1);
    if (children)
        XFree(children);
    return found;
}

} // namespace

Window findByTitle(Display* display, const std::string& title) {
    return findBelow(display, DefaultRootWindow(display), title, 2);
}

void position(Display* display, Window window, int& x, int& y) {
    Window child = 0;
    x = y = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
}

void moveByWindowManager(Display* display, Window window, int x, int y) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_MOVERESIZE_WINDOW", False);
    event.xclient.format = 32;
    // Gravity as the window's own, x and y given, as from a pager (source 2).
    event.xclient.data.l[0] = (1 << 8) | (1 << 9) | (2 << 12);
    event.xclient.data.l[1] = x;
    event.xclient.data.l[2] = y;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

bool managed(Display* display) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char* data = nullptr;
    const bool says =
        XGetWindowProperty(display, DefaultRootWindow(display),
                           XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                           AnyPropertyType, &type, &format, &items, &left, &data) == Success &&
        items == 1;
    if (data != nullptr)
        XFree(data);
    return says;
}

void screenSize(Display* display, int& width, int& height) {
    width = DisplayWidth(display, DefaultScreen(display));
    height = DisplayHeight(display, DefaultScreen(display));
}

bool shows(Display* display, Window window, int x, int y, int r, int g, int b, int tolerance) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    const int pr = (pixel >> 16) & 0xFF, pg = (pixel >> 8) & 0xFF, pb = pixel & 0xFF;
    return std::abs(pr - r) <= tolerance && std::abs(pg - g) <= tolerance &&
           std::abs(pb - b) <= tolerance;
}

void requestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

Window awaitShowing(Display* display, const std::string& title, int x, int y, int r, int g, int b) {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
        const Window window = findByTitle(display, title);
        if (window != 0 && shows(display, window, x, y, r, g, b, 4))
            return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

int awaitExit(int pid) {
    int status = 0;
    const auto deadline = Clock::now() + kPatience;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done == 0) {
        stop(pid);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop(int pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace XWindows
