// The viewer window's dealings with freeglut and X: opening it once a display
// is known to be reachable, the event loop of the viewing phase, closing it so
// that the next viewer of the process can open again, the pointer, and giving
// the memory of a closed viewer back. What freeglut cannot do safely for a
// window opened again and again in one process is done here by hand.
#include "ViewerWindow.h"
#include "OrbivueGL.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <malloc.h>
#include <sys/select.h>

namespace OrbivueGL {

namespace {

// The display connection of the open viewer window, and whether it is open.
Display* viewerDisplay = nullptr;
bool viewerOpen = false;

void onViewerClosed() {
    viewerOpen = false;
}

void giveMemoryBack() {
    // The textures died with the context and the decode buffers with the
    // workers, but the C library keeps freed blocks for reuse: after the
    // first viewer has freed its texture-sized blocks it serves blocks of
    // that size from its arenas (the GL thread's and the workers') instead
    // of mapping them, and they stay with the process when freed. The
    // editor needs none of it while the user does other things.
    malloc_trim(0);
}

} // namespace

bool viewerWindowOpen() {
    return viewerOpen;
}

// Sets the pointer of the viewer window to the GLUT_CURSOR_ shape, with the
// glyph of the X cursor font that freeglut shows for it. glutSetCursor itself
// cannot serve: freeglut keeps the cursors it made in a cache that outlives
// its display connection, so after the first viewer has closed (glutExit) it
// would hand the next viewer of the process a cursor of the closed
// connection, and the X error (BadCursor) would end the program. The cursor
// is therefore made on the current connection each time, and sent at once:
// the preload answers the window system only between photographs.
void setPointer(int shape) {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
        return;
    const Cursor cursor =
        XCreateFontCursor(display, shape == GLUT_CURSOR_WAIT ? XC_watch : XC_top_left_arrow);
    XDefineCursor(display, window, cursor);
    XFreeCursor(display, cursor);
    XFlush(display);
}

bool openViewerWindow() {
    // freeglut ends the whole program when it cannot reach a display; the
    // editor must survive that, so look first.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);

    int argc = 0;
    char empty[] = "";
    char* argv[] = {empty, nullptr};
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    int width = 0, height = 0;
    viewerWindowSize(viewerScale, width, height);
    glutInitWindowSize(width, height);
    glutCreateWindow("Orbivue");
    viewerDisplay = glXGetCurrentDisplay();
    viewerOpen = true;
    glutCloseFunc(onViewerClosed);
    registerViewerCallbacks();
    return true;
}

void runViewerLoop() {
    // freeglut's own main loop would close the display connection while the
    // destroyed window's context is still current, and the next viewer's
    // first context switch would then touch freed memory. This loop does the
    // same work (events, timers, redisplays, sleeping until the next tick or
    // event) but releases the context before freeglut shuts down.
    while (viewerOpen) {
        glutMainLoopEvent();
        if (!viewerOpen)
            break;
        const int wait = nextTickDue - glutGet(GLUT_ELAPSED_TIME);
        if (wait > 0 && XPending(viewerDisplay) == 0) {
            const int fd = ConnectionNumber(viewerDisplay);
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(fd, &readable);
            timeval timeout{0, static_cast<suseconds_t>(std::min(wait, 100)) * 1000};
            select(fd + 1, &readable, nullptr, nullptr, &timeout);
        }
    }
    closeViewerWindow();
}

void closeViewerWindow() {
    if (viewerDisplay == nullptr)
        return;
    if (viewerOpen) {
        glutDestroyWindow(glutGetWindow());
        while (viewerOpen)
            glutMainLoopEvent();
    }
    glXMakeCurrent(viewerDisplay, None, nullptr);
    viewerDisplay = nullptr;
    glutExit();
    giveMemoryBack();
    trimTextureCache();
}

} // namespace OrbivueGL
