#include "zkSimStatusBar.h"

#include "zkSimClock.h"

#include "desktop/zkAccessibility.h"
#include "platform/zkFontFit.h"
#include "platform/zkSecondTick.h"

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

// The session's dot at the left, the text from beside it to the right edge, and the gap
// before the clock.
constexpr int DotLeft = 8;
constexpr int DotSize = 8;
constexpr int TextLeft = DotLeft + DotSize + 6;
constexpr int TextRight = 8;
constexpr int ClockGap = 8;

QFont Bold(QFont font) {
    font.setBold(true);
    return font;
}

// The clock at its widest in font, so that the font chosen does not change by the second.
int WidestClock(const QFont& font) {
    const QFontMetrics metrics(font);
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit)
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(digit);
    return metrics.horizontalAdvance(QStringLiteral("00:00:00").replace(QLatin1Char('0'), widest) +
                                     TSimStatusStrip::tr(" ET"));
}

// Whether "Market: Open" and the clock fit side by side in font.
bool OpenFits(const QFont& font, int room) {
    const QString open =
        TSimStatusStrip::tr("Market: %1").arg(SimMarketSessionName(TSimMarketSession::Open));
    return QFontMetrics(Bold(font)).horizontalAdvance(open) + ClockGap + WidestClock(font) <= room;
}

} // namespace

TSimStatusStrip::TSimStatusStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ServiceStatusStrip"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Screen readers read the strip as its text: the session and the clock to the minute, so
    // its name changes once a minute rather than every second.
    zkAccessibility::SetRole(this, QAccessible::StaticText);
    UpdateAccessibleText();
}

void TSimStatusStrip::showEvent(QShowEvent* event) {
    Refresh();
    if (!Tick)
        Tick = connect(&TSecondTick::Instance(), &TSecondTick::Second, this,
                       &TSimStatusStrip::Refresh);
    QWidget::showEvent(event);
}

void TSimStatusStrip::hideEvent(QHideEvent* event) {
    // Nobody sees the clock: no reason to wake each second.
    disconnect(Tick);
    Tick = {};
    QWidget::hideEvent(event);
}

QDateTime TSimStatusStrip::Now() const {
    return Clock ? Clock() : QDateTime::currentDateTimeUtc();
}

void TSimStatusStrip::SetClockForTest(std::function<QDateTime()> clock) {
    Clock = std::move(clock);
}

TSimStatusStrip::TShown TSimStatusStrip::ShownAt(const QDateTime& utc) {
    const QDateTime ny = SimNewYorkTime(utc);
    return {SimMarketSessionAt(ny), ny.toString(QStringLiteral("HH:mm:ss")) + tr(" ET")};
}

void TSimStatusStrip::Refresh() {
    // Painted only when what it shows changed; the rest follows by the minute, set only when
    // changed.
    if (!Painted || ShownAt(Now()) != *Painted)
        update();
    UpdateAccessibleText();
    UpdateToolTip();
}

void TSimStatusStrip::UpdateAccessibleText() {
    const QDateTime ny = SimNewYorkTime(Now());
    zkAccessibility::SetText(
        this, tr("Market: %1").arg(SimMarketSessionName(SimMarketSessionAt(ny))) +
                  QStringLiteral(", ") + ny.toString(QStringLiteral("HH:mm")) + tr(" ET"));
}

void TSimStatusStrip::UpdateToolTip() {
    const QString session = SessionText();
    const QString full = tr("Market: %1").arg(session);
    const QString tip = Shown(session).Session == full ? QString() : full;
    if (tip != toolTip())
        setToolTip(tip);
}

QSize TSimStatusStrip::sizeHint() const {
    return QSize(210, 27);
}

QString TSimStatusStrip::SessionText() const {
    return SimMarketSessionName(ShownAt(Now()).Session);
}

QString TSimStatusStrip::ClockText() const {
    return ShownAt(Now()).Clock;
}

void TSimStatusStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, QColor(0x2b, 0x31, 0x3a));
    face.setColorAt(1, QColor(0x1f, 0x24, 0x2b));
    painter.fillRect(r, face);

    const TShown shown = ShownAt(Now());
    Painted = shown;
    const TSimMarketSession session = shown.Session;
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect dotRect(DotLeft, (r.height() - DotSize) / 2, DotSize, DotSize);
    painter.setPen(Qt::NoPen);
    painter.setBrush(SessionColor(session));
    painter.drawEllipse(dotRect);

    const TFit fit = Shown(SimMarketSessionName(session));
    painter.setFont(Bold(fit.Font));
    painter.setPen(QColor(0xe8, 0xec, 0xf1));
    const QRect text = r.adjusted(TextLeft, 0, -TextRight, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, fit.Session);
    painter.setFont(fit.Font);
    painter.setPen(QColor(0xb8, 0xc0, 0xca));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, shown.Clock);
}

QString TSimStatusStrip::FitSessionText(const QFontMetrics& metrics, int width,
                                        const QString& session) {
    // The clock keeps its place; the session gives up its label first, then its tail.
    const QString full = tr("Market: %1").arg(session);
    if (metrics.horizontalAdvance(full) <= width)
        return full;
    return metrics.elidedText(session, Qt::ElideRight, qMax(width, 0));
}

TSimStatusStrip::TFit TSimStatusStrip::FitFont(const QFont& font, int width) {
    const int room = width - TextLeft - TextRight;
    TFit fit{font, QString(), 0};
    if (!OpenFits(font, room))
        fit.Font = zkFontFit::LargestFitting(font, MinimumFontScale, font.pointSizeF(),
                                             [room](const QFont& f) { return OpenFits(f, room); })
                       .value_or(font);
    fit.SessionWidth = room - ClockGap - WidestClock(fit.Font);
    return fit;
}

TSimStatusStrip::TFit TSimStatusStrip::WithSession(TFit fit, const QString& session) {
    fit.Session = FitSessionText(QFontMetrics(Bold(fit.Font)), fit.SessionWidth, session);
    return fit;
}

TSimStatusStrip::TFit TSimStatusStrip::Fit(const QFont& font, int width, const QString& session) {
    return WithSession(FitFont(font, width), session);
}

TSimStatusStrip::TFit TSimStatusStrip::Shown(const QString& session) const {
    // The search steps down through font sizes; a paint and the tooltip's update each second
    // need only its result. A new font or width (from a resize, the application's font, a
    // style sheet) makes a new one.
    if (!Fitted || FittedWidth != width() || FittedFor != font()) {
        Fitted = FitFont(font(), width());
        FittedFor = font();
        FittedWidth = width();
    }
    return WithSession(*Fitted, session);
}

void TSimStatusStrip::changeEvent(QEvent* event) {
    // The texts measured are translated.
    if (event->type() == QEvent::LanguageChange)
        Fitted.reset();
    QWidget::changeEvent(event);
}

TSimStatusBarX::TSimStatusBarX(std::shared_ptr<TSimService> service)
    : Service(std::move(service)), Strip(new TSimStatusStrip()) {}

TSimStatusBarX::~TSimStatusBarX() {
    delete Strip.data();
}
