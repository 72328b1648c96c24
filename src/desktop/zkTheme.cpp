#include "zkTheme.h"

#include "zkSessionBus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QEvent>
#include <QStyle>
#include <QWidget>

#include <cmath>
#include <cstdio>

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString AppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString ColorSchemeKey = QStringLiteral("color-scheme");
// A portal that is being started by the bus may take a moment; the palette follows when it
// answers, so waiting longer costs nothing but a late change.
constexpr int PortalTimeoutMs = 5000;

double Channel(int value) {
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Read answers a variant inside a variant (the portal's first version did so by mistake, and
// keeps it); the signal carries one. Either way: the innermost value.
QVariant Unwrapped(QVariant value) {
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

// Keeps one widget's palette adjusted while the application palette changes.
class TPaletteFollower : public QObject {
public:
    TPaletteFollower(QWidget* widget, std::function<void(QPalette&)> adjust)
        : QObject(widget), Widget(widget), Adjust(std::move(adjust)) {
        connect(&TThemeController::Instance(), &TThemeController::PaletteChanged, this,
                &TPaletteFollower::Apply);
        Apply();
    }

private:
    void Apply() {
        // The application's palette itself: the one of the widget's class is brought up to
        // date only after the application was told.
        QPalette palette = QGuiApplication::palette();
        Adjust(palette);
        Widget->setPalette(palette);
    }

    QWidget* Widget;
    std::function<void(QPalette&)> Adjust;
};

} // namespace

namespace zkTheme {

TThemeChoice ChoiceFromText(const QString& text) {
    if (text == QLatin1String("Light"))
        return TThemeChoice::Light;
    if (text == QLatin1String("Dark"))
        return TThemeChoice::Dark;
    return TThemeChoice::System;
}

QString TextOfChoice(TThemeChoice choice) {
    switch (choice) {
    case TThemeChoice::Light:
        return QStringLiteral("Light");
    case TThemeChoice::Dark:
        return QStringLiteral("Dark");
    case TThemeChoice::System:
        break;
    }
    return QStringLiteral("System");
}

double Luminance(const QColor& color) {
    const QColor c = color.toRgb();
    return 0.2126 * Channel(c.red()) + 0.7152 * Channel(c.green()) + 0.0722 * Channel(c.blue());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Readable(const QColor& wanted, const QColor& background, double minimum) {
    // Judged as it will be drawn: eight bits a channel, opaque.
    const QColor start = QColor(wanted.toRgb().rgb());
    if (ContrastRatio(start, background) >= minimum)
        return start;
    const bool darker =
        ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background);
    const float hue = std::max(start.hslHueF(), 0.0f);
    const float saturation = start.hslSaturationF();
    // Lightness moves every channel the same way, so the contrast grows steadily along it:
    // the least change that reaches the minimum is found by halving.
    float near = start.lightnessF(), far = darker ? 0.0f : 1.0f;
    QColor best = darker ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 0; step < 24; ++step) {
        const float middle = (near + far) / 2;
        const QColor candidate = QColor(QColor::fromHslF(hue, saturation, middle).rgb());
        if (ContrastRatio(candidate, background) >= minimum) {
            best = candidate;
            far = middle;
        } else {
            near = middle;
        }
    }
    return best;
}

bool IsDark(const QPalette& palette) {
    return Luminance(palette.color(QPalette::Window)) <
           Luminance(palette.color(QPalette::WindowText));
}

QPalette LightPalette() {
    return QApplication::style()->standardPalette();
}

QPalette DarkPalette() {
    const QColor window(0x2b, 0x2e, 0x33), text(0xe6, 0xe8, 0xeb), base(0x1e, 0x20, 0x24);
    const QColor button(0x35, 0x39, 0x3f), dimmed(0x80, 0x86, 0x8f);
    QPalette p(text, button, QColor(0x4d, 0x53, 0x5b), QColor(0x14, 0x16, 0x18),
               QColor(0x26, 0x29, 0x2d), text, QColor(0xff, 0xff, 0xff), base, window);
    p.setColor(QPalette::Midlight, QColor(0x41, 0x46, 0x4d));
    p.setColor(QPalette::Shadow, QColor(0x0a, 0x0b, 0x0c));
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x29, 0x2e));
    p.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3e, 0x45));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x94, 0x9a, 0xa3));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0x7b, 0x72));
    p.setColor(QPalette::Highlight, QColor(0x2d, 0x6b, 0xc4));
    p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::Link, QColor(0x7a, 0xb8, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xc3, 0xa6, 0xff));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4d, 0x53, 0x5b));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, QColor(0xb0, 0xb5, 0xbb));
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    return p;
}

void FollowPalette(QWidget* widget, std::function<void(QPalette&)> adjust) {
    new TPaletteFollower(widget, std::move(adjust));
}

void KeepReadable(QWidget* widget, QPalette::ColorRole text, const QColor& wanted,
                  QPalette::ColorRole background) {
    FollowPalette(widget, [=](QPalette& palette) {
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, text, Readable(wanted, palette.color(group, background)));
    });
}

} // namespace zkTheme

TThemeController& TThemeController::Instance() {
    static TThemeController* controller = new TThemeController; // lives as long as Qt does
    return *controller;
}

TThemeController::TThemeController() {
    // The application hears of a new palette at once; widgets whose own palette was set are
    // not told (Qt only re-resolves the roles they left open), so they are told from here.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool TThemeController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange &&
        watched == QCoreApplication::instance())
        emit PaletteChanged();
    return false;
}

void TThemeController::SetChoice(TThemeChoice choice) {
    Chosen = choice;
    if (choice == TThemeChoice::System)
        WatchDesktop();
    Apply();
}

void TThemeController::SetDesktopScheme(uint scheme) {
    Scheme = scheme <= 2 ? scheme : 0;
    if (Chosen == TThemeChoice::System)
        Apply();
}

bool TThemeController::DarkInForce() const {
    return zkTheme::IsDark(QApplication::palette());
}

void TThemeController::Apply() {
    const bool dark =
        Chosen == TThemeChoice::Dark || (Chosen == TThemeChoice::System && Scheme == 1);
    const bool light =
        Chosen == TThemeChoice::Light || (Chosen == TThemeChoice::System && Scheme == 2);
    if (!dark && !light && !Applied)
        return; // nothing was changed yet: the platform's palette stays as it came
    if (!Applied)
        Original = QApplication::palette();
    Applied = true;
    QApplication::setPalette(dark    ? zkTheme::DarkPalette()
                             : light ? zkTheme::LightPalette()
                                     : Original);
    emit ThemeApplied();
}

void TThemeController::WatchDesktop() {
    if (Watching)
        return;
    Watching = true;
    // Asking the bus library for a bus that is not there would launch one that outlives us.
    if (!zkSessionBus::Given())
        return;
    ChangesBeforeRead = SchemeChanges;
    // Listening and asking take round trips to the bus: while the early connection is still
    // being made they go out from its thread, so the first windows do not wait for the bus.
    TSessionBusWarmup::WhenConnected([this] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        if (!bus.connect(PortalService, PortalPath, SettingsInterface,
                         QStringLiteral("SettingChanged"), this,
                         SLOT(PortalSettingChanged(QDBusMessage))))
            std::fprintf(stderr, "velquist: cannot follow the desktop's colour scheme: %s\n",
                         qPrintable(bus.lastError().message()));
        QDBusMessage call = QDBusMessage::createMethodCall(
            PortalService, PortalPath, SettingsInterface, QStringLiteral("Read"));
        call << AppearanceNamespace << ColorSchemeKey;
        // No portal, or one that refuses: the platform's palette stays, nothing to say.
        bus.callWithCallback(call, this, SLOT(PortalSchemeRead(QDBusMessage)), PortalTimeoutMs);
    });
}

void TThemeController::PortalSchemeRead(const QDBusMessage& reply) {
    // A change signalled meanwhile is newer than this answer.
    if (reply.arguments().isEmpty() || SchemeChanges != ChangesBeforeRead)
        return;
    bool ok = false;
    const uint scheme = Unwrapped(reply.arguments().first()).toUInt(&ok);
    if (ok)
        SetDesktopScheme(scheme);
}

void TThemeController::PortalSettingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 3 || arguments.at(0).toString() != AppearanceNamespace ||
        arguments.at(1).toString() != ColorSchemeKey)
        return;
    bool ok = false;
    const uint scheme = Unwrapped(arguments.at(2)).toUInt(&ok);
    if (!ok)
        return;
    ++SchemeChanges;
    SetDesktopScheme(scheme);
}
