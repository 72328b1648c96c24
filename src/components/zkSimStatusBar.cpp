#include "zkSimStatusBar.h"

#include "zkSimClock.h"

#include "platform/zkAccessibility.h"

#include <QPainter>

namespace {

QColor SessionColor(TSimMarketSession session) {
    switch (session) {
    case TSimMarketSession::Open:
        return QColor(0x1f, 0x9d, 0x55);
    case TSimMarketSession::PreMarket:
    case TSimMarketSession::AfterHours:
        return QColor(0xe0, 0x9a, 0x1c);
    case TSimMarketSession::Closed:
        break;
    }
    return QColor(0x9a, 0xa1, 0xaa);
}

} // namespace

TSimStatusStrip::TSimStatusStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ServiceStatusStrip"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Screen readers read the strip as its text: the session and the clock to the minute, so
    // its name changes once a minute rather than every second.
    zkAccessibility::SetRole(this, QAccessible::StaticText);
    UpdateAccessibleText();
    // Repaint on the second; the clock shows seconds.
    connect(&Tick, &QTimer::timeout, this, [this] {
        update();
        UpdateAccessibleText();
    });
    Tick.start(1000);
}

void TSimStatusStrip::UpdateAccessibleText() {
    const QDateTime ny = SimNewYorkTime(QDateTime::currentDateTimeUtc());
    zkAccessibility::SetText(
        this, tr("Market: %1").arg(SimMarketSessionName(SimMarketSessionAt(ny))) +
                  QStringLiteral(", ") + ny.toString(QStringLiteral("HH:mm")) + tr(" ET"));
}

QSize TSimStatusStrip::sizeHint() const {
    return QSize(210, 27);
}

QString TSimStatusStrip::SessionText() const {
    return SimMarketSessionName(
        SimMarketSessionAt(SimNewYorkTime(QDateTime::currentDateTimeUtc())));
}

QString TSimStatusStrip::ClockText() const {
    return SimNewYorkTime(QDateTime::currentDateTimeUtc()).toString(QStringLiteral("HH:mm:ss")) +
           tr(" ET");
}

void TSimStatusStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, QColor(0x2b, 0x31, 0x3a));
    face.setColorAt(1, QColor(0x1f, 0x24, 0x2b));
    painter.fillRect(r, face);

    const QDateTime ny = SimNewYorkTime(QDateTime::currentDateTimeUtc());
    const TSimMarketSession session = SimMarketSessionAt(ny);
    painter.setRenderHint(QPainter::Antialiasing);
    const int dot = 8;
    const QRect dotRect(8, (r.height() - dot) / 2, dot, dot);
    painter.setPen(Qt::NoPen);
    painter.setBrush(SessionColor(session));
    painter.drawEllipse(dotRect);

    QFont font = this->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0xe8, 0xec, 0xf1));
    const QRect text = r.adjusted(dotRect.right() + 7, 0, -8, 0);
    QFont clockFont = font;
    clockFont.setBold(false);
    const QString clock = ny.toString(QStringLiteral("HH:mm:ss")) + tr(" ET");
    const int clockWidth = QFontMetrics(clockFont).horizontalAdvance(clock);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     FitSessionText(QFontMetrics(font), text.width() - clockWidth - 8,
                                    SimMarketSessionName(session)));
    painter.setFont(clockFont);
    painter.setPen(QColor(0xb8, 0xc0, 0xca));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, clock);
}

QString TSimStatusStrip::FitSessionText(const QFontMetrics& metrics, int width,
                                        const QString& session) {
    // The clock keeps its place; the session gives up its label first, then its tail.
    const QString full = tr("Market: %1").arg(session);
    if (metrics.horizontalAdvance(full) <= width)
        return full;
    return metrics.elidedText(session, Qt::ElideRight, qMax(width, 0));
}

TSimStatusBarX::TSimStatusBarX(std::shared_ptr<TSimService> service)
    : Service(std::move(service)), Strip(new TSimStatusStrip()) {}

TSimStatusBarX::~TSimStatusBarX() {
    delete Strip.data();
}
