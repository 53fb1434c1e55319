#pragma once

// Looking at the program's windows from outside, through the X server, as a
// person would see them. Xlib's own header stays out of here: its macros
// clash with Qt's and gtest's names.
#include <string>

struct _XDisplay;

namespace XWindows {

using Display = ::_XDisplay;
using Window = unsigned long;

// Whether the display named by DISPLAY can be opened now.
bool reachable();

// Opens the display and makes X errors about windows that have just gone
// harmless for this connection.
Display* open();

// A viewable top-level window with this title, or 0; under a window manager
// that frames its windows, the client window inside the frame.
Window findByTitle(Display* display, const std::string& title);

// Where the window's top left corner is on the screen, in pixels.
void position(Display* display, Window window, int& x, int& y);

// Asks the window manager to move the window's frame to (x, y), as a user
// dragging it by its title bar (or wmctrl -e) would.
void moveByWindowManager(Display* display, Window window, int x, int y);

// Whether a window manager runs on the display (it says so on the root
// window), and the screen's size.
bool managed(Display* display);
void screenSize(Display* display, int& width, int& height);

// Whether the window's pixel at (x, y), origin top left, is within
// `tolerance` of the colour.
bool shows(Display* display, Window window, int x, int y, int r, int g, int b, int tolerance);

void close(Display* display);

// The window's size in pixels.
void size(Display* display, Window window, int& width, int& height);

// Sends the window manager's close request.
void requestClose(Display* display, Window window);

// Waits up to a minute for a window with this title whose pixel at (x, y)
// shows the colour; 0 when none came.
Window awaitShowing(Display* display, const std::string& title, int x, int y, int r, int g, int b);

// Waits up to a minute for a child process; its exit code, or -1 when it
// died or did not end in time (it is killed then).
int awaitExit(int pid);

// Ends a child process that is no longer wanted, and reaps it.
void stop(int pid);

} // namespace XWindows
