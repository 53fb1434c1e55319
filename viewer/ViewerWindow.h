#pragma once

// Between the viewer's start-up and its window (ViewerWindow.cpp), inside the
// viewer library.
namespace OrbivueGL {

// Whether the viewer window is open: false once the user has closed it.
bool viewerWindowOpen();

// Sets the pointer of the viewer window to a GLUT_CURSOR_ shape.
void setPointer(int shape);

// With the start-up: the callbacks of the viewing phase, registered when the
// window opens and again after the preload; and the texture cache's trim,
// asked for when a viewer has closed.
void registerViewerCallbacks();
void trimTextureCache();

} // namespace OrbivueGL
