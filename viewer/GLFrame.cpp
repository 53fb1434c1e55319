#include "GLFrame.h"

void m3dCrossProduct(M3DVector3f result, const M3DVector3f u, const M3DVector3f v) {
    result[0] =
        static_cast<float>(static_cast<double>(u[1]) * v[2] - static_cast<double>(v[1]) * u[2]);
    result[1] =
        static_cast<float>(-static_cast<double>(u[0]) * v[2] + static_cast<double>(v[0]) * u[2]);
    result[2] =
        static_cast<float>(static_cast<double>(u[0]) * v[1] - static_cast<double>(v[0]) * u[1]);
}

void m3dCopyVector3(M3DVector3f dst, const M3DVector3f src) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
}

GLFrame::GLFrame() : origin{0.0f, 0.0f, 0.0f}, forward{0.0f, 0.0f, -1.0f}, up{0.0f, 1.0f, 0.0f} {}

void GLFrame::SetOrigin(float x, float y, float z) {
    origin[0] = x;
    origin[1] = y;
    origin[2] = z;
}

void GLFrame::SetForwardVector(float x, float y, float z) {
    forward[0] = x;
    forward[1] = y;
    forward[2] = z;
}

void GLFrame::SetUpVector(float x, float y, float z) {
    up[0] = x;
    up[1] = y;
    up[2] = z;
}

void GLFrame::MoveUp(float delta) {
    for (int i = 0; i < 3; ++i)
        origin[i] = static_cast<float>(origin[i] + static_cast<double>(up[i]) * delta);
}

void GLFrame::MoveRight(float delta) {
    M3DVector3f cross;
    m3dCrossProduct(cross, up, forward);
    for (int i = 0; i < 3; ++i)
        origin[i] = static_cast<float>(origin[i] + static_cast<double>(cross[i]) * delta);
}

void GLFrame::GetCameraOrientation(M3DMatrix44f m) const {
    const M3DVector3f z = {-forward[0], -forward[1], -forward[2]};
    M3DVector3f x;
    m3dCrossProduct(x, up, z);
    m[0] = x[0];
    m[4] = x[1];
    m[8] = x[2];
    m[12] = 0.0f;
    m[1] = up[0];
    m[5] = up[1];
    m[9] = up[2];
    m[13] = 0.0f;
    m[2] = z[0];
    m[6] = z[1];
    m[10] = z[2];
    m[14] = 0.0f;
    m[3] = 0.0f;
    m[7] = 0.0f;
    m[11] = 0.0f;
    m[15] = 1.0f;
}
