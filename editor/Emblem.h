#pragma once

#include <QPixmap>

// The program's pictures, drawn here rather than shipped: a small house on
// its ground with an orbit of camera positions around it.
QPixmap orbivueEmblem(int width = 252, int height = 147); // transparent background
QPixmap orbivueIcon(int size = 64);

class QPainter;
// The icon's drawing onto any paint device, `size` units square.
void drawOrbivueIcon(QPainter& painter, double size);
