#pragma once

// A hidden freeglut window with a current GL context for tests that need GL.
// Returns false (and the test should skip) when there is no display.
bool ensureGlContext();
