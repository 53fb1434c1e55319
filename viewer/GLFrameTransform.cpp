// The camera frame's one GL call, in the windowed viewer library: GLFrame's
// arithmetic (GLFrame.cpp) stays GL-free in viewer_logic.
#include "GLFrame.h"

#include <GL/gl.h>

void GLFrame::ApplyCameraTransform(bool rotationOnly) const {
    M3DMatrix44f m;
    GetCameraOrientation(m);
    glMultMatrixf(m);
    if (!rotationOnly)
        glTranslatef(-origin[0], -origin[1], -origin[2]);
}
