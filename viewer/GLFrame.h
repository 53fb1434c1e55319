#pragma once

// Three single-precision floats: x, y, z.
typedef float M3DVector3f[3];
// Sixteen floats in OpenGL's column-major order.
typedef float M3DMatrix44f[16];

// result = u x v. `result` must not be u or v: it is written component by
// component while they are still read.
void m3dCrossProduct(M3DVector3f result, const M3DVector3f u, const M3DVector3f v);
void m3dCopyVector3(M3DVector3f dst, const M3DVector3f src);

// A frame of reference (a position, a forward and an up direction) used as
// the viewer's camera. It neither normalises nor orthogonalises its vectors.
class GLFrame {
  public:
    GLFrame();

    void SetOrigin(float x, float y, float z);
    void SetForwardVector(float x, float y, float z);
    void GetForwardVector(M3DVector3f vector) const { m3dCopyVector3(vector, forward); }
    void SetUpVector(float x, float y, float z);

    // Moves along up.
    void MoveUp(float delta);
    // Moves along up x forward, which for a camera is its left: a positive
    // delta moves the camera to its left.
    void MoveRight(float delta);

    // The rotation that carries world directions into the camera's axes
    // (x to the right, y up, z towards the viewer).
    void GetCameraOrientation(M3DMatrix44f m) const;
    // Multiplies the current GL matrix by the rotation and, unless
    // rotationOnly, the translation by -origin. The frame's one GL call:
    // defined in GLFrameTransform.cpp, in the windowed viewer library.
    void ApplyCameraTransform(bool rotationOnly) const;

    const float* GetOrigin() const { return origin; }
    const float* GetUpVector() const { return up; }

  private:
    M3DVector3f origin;
    M3DVector3f forward;
    M3DVector3f up;
};
