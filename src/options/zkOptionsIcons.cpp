#include "zkOptionsIcons.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace {

// Colours that read on light and dark backgrounds alike: mid-tone fills, a slate outline.
const QColor Outline(0x4a, 0x55, 0x63);
const QColor Blue(0x3d, 0x7b, 0xd9);
const QColor PaleBlue(0xc9, 0xdc, 0xf5);
const QColor Green(0x2e, 0x9b, 0x4e);
const QColor Teal(0x1f, 0x8f, 0x8a);
const QColor Orange(0xe0, 0x8a, 0x1e);
const QColor Paper(0xf4, 0xf6, 0xf9);

// Every icon is drawn on a 32 x 32 grid, scaled to the target.
void DrawGeneral(QPainter& p) {
    // A monitor on its stand.
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Blue);
    p.drawRoundedRect(QRectF(3, 5, 26, 18), 2, 2);
    p.setBrush(PaleBlue);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(6, 8, 20, 12));
    p.setBrush(Outline);
    p.drawRect(QRectF(14, 23, 4, 4));
    p.drawRoundedRect(QRectF(9, 26.5, 14, 2.5), 1, 1);
}

void DrawConnection(QPainter& p) {
    // A globe: a disc with its meridians and parallels.
    const QRectF globe(3.5, 3.5, 25, 25);
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Teal);
    p.drawEllipse(globe);
    p.setPen(QPen(Paper, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(11, 3.5, 10, 25));
    p.drawLine(QPointF(16, 3.5), QPointF(16, 28.5));
    p.drawLine(QPointF(3.5, 16), QPointF(28.5, 16));
    p.drawLine(QPointF(6, 9.5), QPointF(26, 9.5));
    p.drawLine(QPointF(6, 22.5), QPointF(26, 22.5));
}

void DrawArrowArc(QPainter& p, double startDeg, const QColor& color) {
    // An arc of 150 degrees, a little less than half a circle, with an arrow head at its end.
    const QPointF centre(16, 16);
    const double radius = 10;
    const double span = 150;
    QPainterPath arc;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(box, startDeg);
    arc.arcTo(box, startDeg, span);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, 3.2, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arc);
    const double end = (startDeg + span) * M_PI / 180.0;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    // Tangent in the arc's direction (counter-clockwise on screen).
    const QPointF along(-std::sin(end), -std::cos(end));
    const QPointF across(std::cos(end), -std::sin(end));
    QPolygonF head;
    head << tip + along * 6.0 << tip + across * 4.5 << tip - across * 4.5;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(head);
}

void DrawUpdates(QPainter& p) {
    DrawArrowArc(p, 20, Green);
    DrawArrowArc(p, 200, Green);
}

void DrawLayouts(QPainter& p) {
    // A window with a title bar, split into panes.
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Paper);
    p.drawRoundedRect(QRectF(3, 4, 26, 24), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(Blue);
    p.drawRect(QRectF(3.75, 4.75, 24.5, 5));
    p.setBrush(PaleBlue);
    p.drawRect(QRectF(6, 12, 9, 13.5));
    p.drawRect(QRectF(17, 12, 9, 5.5));
    p.drawRect(QRectF(17, 20, 9, 5.5));
}

void DrawBroker(QPainter& p) {
    // A hub passing messages on: a centre linked to three desks.
    const QPointF hub(16, 16);
    const QPointF desks[] = {QPointF(6, 7), QPointF(26, 7), QPointF(16, 27)};
    p.setPen(QPen(Outline, 2));
    for (const QPointF& desk : desks)
        p.drawLine(hub, desk);
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Teal);
    p.drawEllipse(hub, 6, 6);
    p.setBrush(Orange);
    for (const QPointF& desk : desks)
        p.drawEllipse(desk, 4, 4);
}

void DrawInbox(QPainter& p) {
    // A tray with an arrow coming down into it.
    QPainterPath tray;
    tray.moveTo(3, 18);
    tray.lineTo(10, 18);
    tray.lineTo(12, 22);
    tray.lineTo(20, 22);
    tray.lineTo(22, 18);
    tray.lineTo(29, 18);
    tray.lineTo(29, 28);
    tray.lineTo(3, 28);
    tray.closeSubpath();
    p.setPen(QPen(Outline, 1.5));
    p.setBrush(Orange);
    p.drawPath(tray);
    p.setPen(Qt::NoPen);
    p.setBrush(Blue);
    p.drawRect(QRectF(13.5, 3, 5, 9));
    QPolygonF head;
    head << QPointF(9, 11) << QPointF(23, 11) << QPointF(16, 18.5);
    p.drawPolygon(head);
}

class TOptionsIconEngine : public QIconEngine {
public:
    explicit TOptionsIconEngine(TOptionsIcon which) : Which(which) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const double side = std::min(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 32.0, side / 32.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.45);
        switch (Which) {
        case TOptionsIcon::General:
            DrawGeneral(*painter);
            break;
        case TOptionsIcon::Connection:
            DrawConnection(*painter);
            break;
        case TOptionsIcon::Updates:
            DrawUpdates(*painter);
            break;
        case TOptionsIcon::Layouts:
            DrawLayouts(*painter);
            break;
        case TOptionsIcon::Inbox:
            DrawInbox(*painter);
            break;
        case TOptionsIcon::Broker:
            DrawBroker(*painter);
            break;
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // Drawn for the device pixels it will cover (QIcon asks in those, with the ratio they
    // stand for), never scaled from a smaller picture.
    QPixmap scaledPixmap(const QSize& pixels, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        if (pixels.isEmpty())
            return QPixmap();
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, image.rect(), mode, state);
        }
        QPixmap pixmap = QPixmap::fromImage(std::move(image));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QString key() const override { return QStringLiteral("velquist-options"); }
    QIconEngine* clone() const override { return new TOptionsIconEngine(Which); }

private:
    TOptionsIcon Which;
};

} // namespace

QIcon OptionsIcon(TOptionsIcon which) {
    return QIcon(new TOptionsIconEngine(which));
}
