#include "DialogUnits.h"

#include <QFontMetricsF>

#include <cmath>

DialogUnits DialogUnits::fromFont(const QFont& font) {
    const QFontMetricsF metrics(font);
    // The average width of the Latin letters, as dialog units measure it.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double cellWidth = std::round(metrics.horizontalAdvance(letters) / letters.size());
    const double cellHeight = std::round(metrics.height());
    DialogUnits units;
    if (cellWidth > 0 && cellHeight > 0) {
        units.sx = cellWidth / 6.0;
        units.sy = cellHeight / 13.0;
    }
    return units;
}

int DialogUnits::x(int value) const {
    return static_cast<int>(std::lround(value * sx));
}
int DialogUnits::y(int value) const {
    return static_cast<int>(std::lround(value * sy));
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}
