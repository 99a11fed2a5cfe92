#include "dialogs/ExchangeIcon.h"

#include <QPainter>
#include <algorithm>

namespace kve17 {

namespace {

constexpr int Side = 16;

// A two-pixel shaft on the pixel grid and a solid head at `tip`, pointing along the shaft.
void DrawArrow(QPainter& painter, int y, int tail, int tip, const QColor& colour) {
    const int direction = tip > tail ? 1 : -1;
    const int headBase = tip - direction * 5;
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRect(
        QRect(QPoint(std::min(tail, headBase), y - 1), QPoint(std::max(tail, headBase), y)));
    const QPointF head[] = {
        {qreal(headBase), y - 4.0}, {qreal(tip), y + 0.0}, {qreal(headBase), y + 4.0}};
    painter.drawPolygon(head, 3);
}

} // namespace

QPixmap ExchangeIcon(qreal devicePixelRatio) {
    QPixmap pixmap(QSize(Side, Side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Request out to the device, reply back: the timing this button sets.
    DrawArrow(painter, 5, 0, 15, QColor(0, 128, 128));
    DrawArrow(painter, 11, 15, 0, QColor(0, 0, 128));
    return pixmap;
}

} // namespace kve17
