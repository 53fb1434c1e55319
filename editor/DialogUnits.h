#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Pixel values of the editor's layout are given for a dialog font whose
// average character cell is 6 by 13 pixels; with another font they scale by
// the ratio of its cell to that one.
struct DialogUnits {
    double sx = 1.0;
    double sy = 1.0;

    static DialogUnits fromFont(const QFont& font);
    static DialogUnits reference() { return {}; }

    int x(int value) const;
    int y(int value) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const { return {x(width), y(height)}; }
};
