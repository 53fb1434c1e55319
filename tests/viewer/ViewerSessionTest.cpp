// Runs the real viewer the way the editor does, in a child process, and
// watches it from outside through the X server as a person would: the window,
// its title and size, the picture it shows, and closing it by the window
// manager's close request.
#include <gtest/gtest.h>

#include "OrbivueGL.h"
#include "TestImages.h"

// After gtest: Xlib defines None, which gtest uses as a name.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using TestImages::Rgb;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);

// The viewer's windows come and go while this process looks at them; an X
// error about a window that has just gone is expected, not fatal.
int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

Window findViewer(Display* display, Window root) {
    Window rootReturn, parent, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && found == 0; ++i) {
            char* name = nullptr;
            XWindowAttributes attributes;
            if (XFetchName(display, children[i], &name) && name &&
                std::strcmp(name, "Orbivue") == 0 &&
                XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable)
                found = children[i];
            if (name)
                XFree(name);
        }
        if (children)
            XFree(children);
    }
    return found;
}

bool centreShows(Display* display, Window window, Rgb colour) {
    XImage* image = XGetImage(display, window, 366, 275, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return std::abs(r - colour.r) <= 4 && std::abs(g - colour.g) <= 4 &&
           std::abs(b - colour.b) <= 4;
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

} // namespace

TEST(ViewerSession, TwoStartsEachShowTheirOwnSetAndCloseOnRequest) {
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "no display";
    TestImages::TempDir dir;
    const Rgb first{200, 40, 40}, second{40, 40, 200}, other{40, 200, 40};
    std::vector<std::string> firstSet = {dir.file("a0.jpg"), dir.file("a1.jpg"),
                                         dir.file("a2.jpg")};
    const std::string secondSet = dir.file("b0.jpg");
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[0], TestImages::solid(64, 48, first)));
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[1], TestImages::solid(64, 48, other)));
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[2], TestImages::solid(64, 48, other)));
    ASSERT_TRUE(TestImages::writeJpeg(secondSet, TestImages::solid(64, 48, second)));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OrbivueSettings one;
        for (const std::string& path : firstSet)
            one.addFileName1(path.c_str());
        const int r1 = OrbivueGL::start(&one);
        OrbivueSettings two;
        two.addFileName1(secondSet.c_str());
        const int r2 = OrbivueGL::start(&two);
        const bool onlyNewSet = OrbivueGL::glTextures1.size() == 1 && OrbivueGL::numImages == 1;
        _exit(r1 == 0 && r2 == 0 && onlyNewSet ? 0 : 3);
    }

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    // The second window may get the same id as the first: each is told by
    // the colour of the photograph it shows.
    for (const Rgb& colour : {first, second}) {
        Window viewer = 0;
        bool shown = false;
        const auto deadline = Clock::now() + kPatience;
        while (Clock::now() < deadline && !shown) {
            viewer = findViewer(display, root);
            shown = viewer != 0 && centreShows(display, viewer, colour);
            if (!shown)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!shown) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            FAIL() << "no viewer window showed slot 0 of its set";
        }
        XWindowAttributes attributes;
        ASSERT_TRUE(XGetWindowAttributes(display, viewer, &attributes));
        EXPECT_EQ(attributes.width, 733);
        EXPECT_EQ(attributes.height, 550);
        requestClose(display, viewer);
    }
    XCloseDisplay(display);

    int status = 0;
    pid_t done = 0;
    const auto deadline = Clock::now() + kPatience;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the viewer did not return after its window was closed";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the viewer process died";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "start returned non-zero or kept the old set";
}
