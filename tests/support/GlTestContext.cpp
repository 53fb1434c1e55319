#include "GlTestContext.h"
#include "XWindows.h"

#include <GL/freeglut.h>

#include <cstdlib>

bool ensureGlContext() {
    static int window = 0;
    if (window != 0) {
        glutSetWindow(window);
        return true;
    }
    // Without a display freeglut would end the process.
    if (!XWindows::reachable())
        return false;
    int argc = 1;
    char name[] = "orbivue-test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(64, 64);
    window = glutCreateWindow("orbivue-test");
    glutHideWindow();
    return window != 0;
}
