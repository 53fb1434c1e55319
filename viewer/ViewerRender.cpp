// Drawing one frame: the pictures composeFrame chose, each turned, tilted or
// raised, and cross-faded.
#include "OrbivueGL.h"

#include <GL/freeglut.h>

#include <cmath>

namespace OrbivueGL {

void DrawOneImage(std::int32_t slot, float alpha, float series) {
    glColor4f(1.0f, 1.0f, 1.0f, alpha);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    const std::vector<glTexture>& textures =
        series == 0.0f ? glTextures1 : (series == 1.0f ? glTextures2 : glTextures3);
    // A slot whose image failed keeps name 0: an untextured quad.
    const GLuint name = slot >= 0 && static_cast<std::size_t>(slot) < textures.size()
                            ? textures[slot].textureId
                            : 0;
    glBindTexture(GL_TEXTURE_2D, name);

    // Upright in the plane x = 0, facing +x, 2 units high and 2 * aspectRatio
    // wide; texture s = 1 on the right as seen from +x.
    glBegin(GL_TRIANGLE_STRIP);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(0.0f, 1.0f, -aspectRatio);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(0.0f, 1.0f, aspectRatio);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(0.0f, -1.0f, -aspectRatio);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(0.0f, -1.0f, aspectRatio);
    glEnd();
}

void RenderScene() {
    const Frame frame = composeFrame();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    frameCamera.ApplyCameraTransform(false);
    for (const FramePicture& p : frame.pictures) {
        glPushMatrix();
        if (p.raise)
            glTranslatef(0.0f, p.height, 0.0f);
        else
            glRotatef(p.tilt, frame.tiltAxis[0], frame.tiltAxis[1], frame.tiltAxis[2]);
        glRotatef(p.turn, 0.0f, 1.0f, 0.0f);
        DrawOneImage(p.slot, p.alpha, static_cast<float>(p.series));
        glPopMatrix();
    }
    glPopMatrix();
    glutSwapBuffers();
}

} // namespace OrbivueGL
