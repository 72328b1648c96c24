#pragma once

// The program's colour theme: the user's choice (follow the desktop, light or dark), the
// desktop's colour-scheme preference read from the freedesktop appearance portal, the palettes
// put on the application, and the contrast rules that keep coloured text readable on either.

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QString>

#include <functional>

class QDBusMessage;
class QWidget;

enum class TThemeChoice { System, Light, Dark };

namespace zkTheme {

// "System", "Light", "Dark" as stored; anything else reads as System.
TThemeChoice ChoiceFromText(const QString& text);
QString TextOfChoice(TThemeChoice choice);

// WCAG 2 relative luminance (0 black .. 1 white) and contrast ratio (1 .. 21).
double Luminance(const QColor& color);
double ContrastRatio(const QColor& a, const QColor& b);
// Text contrast the program keeps for coloured text (WCAG AA for normal text).
constexpr double MinimumTextContrast = 4.5;
// The wanted colour when it already reads on the background; otherwise the same hue made
// darker (on a light background) or lighter (on a dark one), just as far as needed.
QColor Readable(const QColor& wanted, const QColor& background,
                double minimum = MinimumTextContrast);

// Whether a palette is a dark one (light text on dark windows).
bool IsDark(const QPalette& palette);
QPalette LightPalette();
QPalette DarkPalette();

// Calls adjust with the application palette and sets the result on the widget, now and each time
// the application's palette changes. For widgets that colour a role of their own.
void FollowPalette(QWidget* widget, std::function<void(QPalette&)> adjust);
// A widget whose text role shows in a colour of its own (a link's blue), kept readable on
// the background role of the application palette.
void KeepReadable(QWidget* widget, QPalette::ColorRole text, const QColor& wanted,
                  QPalette::ColorRole background);

} // namespace zkTheme

// Puts the chosen theme on the application and, while the choice is to follow the desktop,
// follows the desktop's preference as it changes. The preference comes from the appearance
// portal (org.freedesktop.portal.Settings, "org.freedesktop.appearance" "color-scheme": 0 no
// preference, 1 dark, 2 light) on the session bus; without a portal, or with no preference,
// the application keeps the palette Qt's platform theme gives it.
class TThemeController : public QObject {
    Q_OBJECT
public:
    static TThemeController& Instance();

    TThemeChoice Choice() const { return Chosen; }
    // Applies the choice at once (the desktop's last known preference for System).
    void SetChoice(TThemeChoice choice);
    // Asks the portal for the preference and listens for its changes; the answer comes
    // later and is applied when it does. Once is enough; later calls do nothing.
    void WatchDesktop();
    // The desktop's preference as last known: 0 none (or unknown), 1 dark, 2 light.
    uint DesktopScheme() const { return Scheme; }
    // Takes a new desktop preference (from the portal, or a test).
    void SetDesktopScheme(uint scheme);
    // Whether the palette in force is a dark one.
    bool DarkInForce() const;

signals:
    // After the application palette changed to follow a new choice or preference.
    void ThemeApplied();
    // Whenever the application palette changed (for whatever reason), before Qt tells the
    // windows.
    void PaletteChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // SettingChanged(namespace, key, value) of the portal.
    void PortalSettingChanged(const QDBusMessage& message);
    // The portal's answer to the first question (Read).
    void PortalSchemeRead(const QDBusMessage& reply);

private:
    TThemeController();
    void Apply();

    TThemeChoice Chosen = TThemeChoice::System;
    uint Scheme = 0;
    uint SchemeChanges = 0; // signals taken, so a late first answer does not undo one
    uint ChangesBeforeRead = 0;
    bool Watching = false;
    bool Applied = false;
    // The platform's palette, as it was before the first theme was put on.
    QPalette Original;
};
