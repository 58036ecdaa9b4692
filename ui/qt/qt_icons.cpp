#include "ui/qt/qt_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace orvante::ui::qt {

namespace {

// The connection indicator: a coloured dot in a white rim, nothing around it, so the
// dialog's own background shows at the corners.
void PaintIndicator(QPainter& painter, int size, const QColor& dot) {
    const qreal rim = size >= 32 ? 2.5 : 1.5;
    const QRectF outer(0.5, 0.5, size - 1.0, size - 1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(outer);
    painter.setBrush(dot);
    painter.drawEllipse(outer.adjusted(rim, rim, -rim, -rim));
}

// The application: a hand-held IR remote, its emitter lit, sending two waves to the
// upper right.
void PaintApplication(QPainter& painter, int size) {
    const qreal u = size / 32.0;  // drawn on a 32-unit grid, scaled to the size

    // Body, tilted slightly so the waves have room.
    painter.save();
    painter.translate(12 * u, 20 * u);
    painter.rotate(30);
    const QRectF body(-5.5 * u, -12 * u, 11 * u, 24 * u);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x28), std::max(1.0, u)));
    painter.setBrush(QColor(0x4a, 0x4e, 0x5c));
    painter.drawRoundedRect(body, 3 * u, 3 * u);
    // Emitter at the top end.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe0, 0x20, 0x20));
    painter.drawEllipse(QPointF(0, -9 * u), 2.2 * u, 2.2 * u);
    // Keys, only where there are pixels enough to show them.
    if (size >= 24) {
        painter.setBrush(QColor(0xd8, 0xd8, 0xe0));
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 2; ++col) {
                painter.drawRect(
                    QRectF((-3.5 + col * 4.5) * u, (-4 + row * 4.5) * u, 2.5 * u, 2.5 * u));
            }
        }
    } else {
        painter.setBrush(QColor(0xd8, 0xd8, 0xe0));
        painter.drawRect(QRectF(-2.5 * u, -3 * u, 5 * u, 10 * u));
    }
    painter.restore();

    // Waves leaving the emitter.
    const QPointF emitter(12 * u + 9 * u * 0.5, 20 * u - 9 * u * 0.866);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(
        QPen(QColor(0xe0, 0x30, 0x20), std::max(1.0, 1.8 * u), Qt::SolidLine, Qt::RoundCap));
    for (int wave = 1; wave <= 2; ++wave) {
        const qreal r = (3.0 + wave * 4.0) * u;
        painter.drawArc(QRectF(emitter.x() - r, emitter.y() - r, 2 * r, 2 * r), 5 * 16, 80 * 16);
    }
}

}  // namespace

QPixmap MakeIconPixmap(IconId id, int size, qreal devicePixelRatio) {
    const int devicePixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QPixmap pixmap(devicePixels, devicePixels);
    // The painter then draws in device-independent pixels, at the full resolution.
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (id) {
        case IconId::kIndicatorOff:
            PaintIndicator(painter, size, Qt::black);
            break;
        case IconId::kIndicatorOn:
            PaintIndicator(painter, size, QColor(0xe0, 0, 0));
            break;
        case IconId::kApplication:
            PaintApplication(painter, size);
            break;
        case IconId::kNone:
            break;
    }
    return pixmap;
}

QIcon MakeIcon(IconId id) {
    if (id != IconId::kIndicatorOff && id != IconId::kIndicatorOn && id != IconId::kApplication) {
        return QIcon();
    }
    QIcon icon;
    for (int size : {16, 32}) icon.addPixmap(MakeIconPixmap(id, size));
    return icon;
}

}  // namespace orvante::ui::qt
