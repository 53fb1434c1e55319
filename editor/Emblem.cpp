#include "Emblem.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// Draws the house and its orbit into the rectangle `area`.
void drawScene(QPainter& p, const QRectF& area, bool withText) {
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(area.center().x(), area.top() + area.height() * 0.55);
    const double rx = area.width() * (withText ? 0.30 : 0.44);
    const double ry = area.height() * 0.22;

    // The back half of the orbit, behind the house.
    const QRectF orbit(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
    QPen orbitPen(QColor(70, 130, 200), std::max(1.5, area.height() / 40));
    p.setPen(orbitPen);
    p.drawArc(orbit, 0, 180 * 16);

    // The house: a wall and a roof, lit from the left.
    const double w = rx * 0.75, h = area.height() * 0.32;
    const QRectF wall(centre.x() - w / 2, centre.y() - h * 0.6, w, h);
    QLinearGradient light(wall.topLeft(), wall.topRight());
    light.setColorAt(0, QColor(245, 225, 180));
    light.setColorAt(1, QColor(200, 170, 120));
    p.setPen(QPen(QColor(90, 60, 30), 1));
    p.setBrush(light);
    p.drawRect(wall);
    QPainterPath roof;
    roof.moveTo(wall.left() - w * 0.1, wall.top());
    roof.lineTo(centre.x(), wall.top() - h * 0.55);
    roof.lineTo(wall.right() + w * 0.1, wall.top());
    roof.closeSubpath();
    p.setBrush(QColor(180, 60, 40));
    p.drawPath(roof);
    p.setBrush(QColor(90, 60, 30));
    p.drawRect(QRectF(centre.x() - w * 0.1, wall.bottom() - h * 0.45, w * 0.2, h * 0.45));

    // The front half of the orbit with camera positions along it.
    p.setPen(orbitPen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(orbit, 180 * 16, 180 * 16);
    p.setPen(Qt::NoPen);
    const int cameras = 8;
    for (int i = 0; i < cameras; ++i) {
        const double a = 2 * M_PI * i / cameras + M_PI / 8;
        const QPointF at(centre.x() + rx * std::cos(a), centre.y() + ry * std::sin(a));
        p.setBrush(i == 2 ? QColor(230, 120, 20) : QColor(40, 90, 160));
        const double r = std::max(2.0, area.height() / (withText ? 28 : 16));
        p.drawEllipse(at, r, r);
    }

    if (withText) {
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(static_cast<int>(area.height() * 0.16));
        p.setFont(font);
        p.setPen(QColor(40, 70, 120));
        p.drawText(QRectF(area.left(), area.bottom() - area.height() * 0.2, area.width(),
                          area.height() * 0.2),
                   Qt::AlignCenter, QStringLiteral("Orbivue"));
    }
}

} // namespace

QPixmap orbivueEmblem(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawScene(painter, QRectF(0, 0, width, height), true);
    return pixmap;
}

QPixmap orbivueIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawOrbivueIcon(painter, size);
    return pixmap;
}

void drawOrbivueIcon(QPainter& painter, double size) {
    drawScene(painter, QRectF(0, 0, size, size), false);
}
