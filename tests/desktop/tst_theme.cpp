// The colour theme: the stored choice, the contrast rule for coloured text, and the palettes
// the controller puts on the application as the choice and the desktop's preference change.
#include "components/zkSimAlertWindow.h"
#include "config/zkSettings.h"
#include "config/zkThemeSettings.h"
#include "desktop/zkTheme.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

class TThemeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Nothing here may reach a real desktop's portal.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    }

    void choiceAsStored() {
        TClientSandbox sandbox;
        const TSettingsStore store = TSettingsStore::Registry();
        QCOMPARE(ReadThemeChoice(store), TThemeChoice::System); // nothing stored yet
        for (const TThemeChoice choice :
             {TThemeChoice::Dark, TThemeChoice::Light, TThemeChoice::System}) {
            WriteThemeChoice(store, choice);
            QCOMPARE(ReadThemeChoice(store), choice);
        }
        WriteThemeChoice(store, TThemeChoice::Dark);
        QCOMPARE(ReadStringValue(store, SettingsValuesPath(), "Theme", ""), QStringLiteral("Dark"));
        // Anything but the three words, or a value of another kind, follows the desktop.
        for (const char* text : {"dark", "LIGHT", " Dark", "Purple", ""}) {
            WriteStringValue(store, SettingsValuesPath(), "Theme", QString::fromLatin1(text));
            QCOMPARE(ReadThemeChoice(store), TThemeChoice::System);
        }
        WriteIntegerValue(store, SettingsValuesPath(), "Theme", 2);
        QCOMPARE(ReadThemeChoice(store), TThemeChoice::System);
    }

    void contrastRatios() {
        QCOMPARE(qRound(zkTheme::ContrastRatio(Qt::white, Qt::black) * 100), 2100);
        QCOMPARE(qRound(zkTheme::ContrastRatio(QColor(0, 128, 0), Qt::white) * 100), 514);
        QCOMPARE(qRound(zkTheme::ContrastRatio(Qt::red, Qt::white) * 100), 400);
        QCOMPARE(zkTheme::ContrastRatio(Qt::red, Qt::white),
                 zkTheme::ContrastRatio(Qt::white, Qt::red));
        QVERIFY(zkTheme::IsDark(zkTheme::DarkPalette()));
        QVERIFY(!zkTheme::IsDark(zkTheme::LightPalette()));
    }

    // Every colour the program writes text in, on every background it is written on, in both
    // themes: readable, unchanged where it already was, and still its own hue.
    void readableKeepsColoursAndTheirHue() {
        const QPalette light = zkTheme::LightPalette(), dark = zkTheme::DarkPalette();
        QList<QColor> backgrounds = {Qt::white, Qt::black, QColor(0x80, 0x80, 0x80)};
        for (const QPalette& p : {light, dark}) {
            for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button,
                                    QPalette::AlternateBase, QPalette::Highlight})
                backgrounds << p.color(role);
            const TSimListColors list = SimListColors(p);
            backgrounds << list.Base << list.AlternateBase << list.Highlight;
        }
        const QList<QColor> colours = {
            QColor(0, 128, 0),   QColor(255, 0, 0),  QColor(255, 255, 0),      QColor(0, 0, 255),
            Qt::black,           Qt::white,          QColor(0x80, 0x40, 0x20), QColor(255, 128, 0),
            QColor(0, 255, 255), QColor(128, 0, 128)};
        for (const QColor& background : backgrounds) {
            for (const QColor& wanted : colours) {
                const QColor shown = zkTheme::Readable(wanted, background);
                const QString what = QStringLiteral("%1 on %2 -> %3")
                                         .arg(wanted.name(), background.name(), shown.name());
                // Mid grey cannot give 4.5:1 to anything but black; otherwise the minimum holds.
                const double best = std::max(zkTheme::ContrastRatio(Qt::black, background),
                                             zkTheme::ContrastRatio(Qt::white, background));
                QVERIFY2(zkTheme::ContrastRatio(shown, background) >=
                             std::min(zkTheme::MinimumTextContrast, best) - 1e-9,
                         qPrintable(what));
                if (zkTheme::ContrastRatio(wanted, background) >= zkTheme::MinimumTextContrast)
                    QVERIFY2(shown == wanted, qPrintable(what));
                else if (wanted.hslSaturation() > 200 && shown.hslSaturation() > 60 &&
                         shown.lightness() > 20 && shown.lightness() < 235)
                    QVERIFY2(std::abs(shown.hslHue() - wanted.hslHue()) <= 8, qPrintable(what));
            }
        }
        // Pure red on white is just short of the minimum: a slightly darker red, not black.
        const QColor red = zkTheme::Readable(Qt::red, Qt::white);
        QVERIFY(red.red() > 180 && red.green() < 20 && red.blue() < 20);
    }

    // The choice and the desktop's preference put their palette on the application at once,
    // and a widget kept readable takes the new background into account.
    void controllerAppliesChoiceAndPreference() {
        TThemeController& theme = TThemeController::Instance();
        const QColor originalWindow = QApplication::palette().color(QPalette::Window);
        QVERIFY(!zkTheme::IsDark(QApplication::palette()));
        QWidget window;
        QLabel& link = *new QLabel(QStringLiteral("www.velquist.example"), &window);
        zkTheme::KeepReadable(&link, QPalette::WindowText, QColor(0, 0, 255), QPalette::Window);
        // A window never shown yet takes the palette in force when it is.
        QLabel later(QStringLiteral("www.velquist.example"));
        zkTheme::KeepReadable(&later, QPalette::WindowText, QColor(0, 0, 255), QPalette::Window);
        QCOMPARE(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QSignalSpy applied(&theme, &TThemeController::ThemeApplied);
        auto linkContrast = [&link] {
            return zkTheme::ContrastRatio(link.palette().color(QPalette::WindowText),
                                          link.palette().color(QPalette::Window));
        };

        theme.SetChoice(TThemeChoice::Dark);
        QVERIFY(theme.DarkInForce());
        QVERIFY(zkTheme::IsDark(link.palette()));
        QVERIFY2(linkContrast() >= 4.5, qPrintable(QString::number(linkContrast())));
        QCOMPARE(applied.count(), 1);
        later.show();
        QVERIFY(zkTheme::IsDark(later.palette()));
        QVERIFY(zkTheme::ContrastRatio(later.palette().color(QPalette::WindowText),
                                       later.palette().color(QPalette::Window)) >= 4.5);
        // The desktop's preference does not count while a theme is chosen.
        theme.SetDesktopScheme(2);
        QVERIFY(theme.DarkInForce());

        theme.SetChoice(TThemeChoice::Light);
        QVERIFY(!theme.DarkInForce());
        QCOMPARE(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));

        theme.SetChoice(TThemeChoice::System); // the desktop prefers light (above)
        QVERIFY(!theme.DarkInForce());
        theme.SetDesktopScheme(1);
        QVERIFY(theme.DarkInForce());
        QVERIFY(linkContrast() >= 4.5);
        theme.SetDesktopScheme(7); // no such preference: none
        QCOMPARE(theme.DesktopScheme(), 0u);
        // No preference: the palette the platform gave, as it was before any choice.
        QVERIFY(!theme.DarkInForce());
        QCOMPARE(QApplication::palette().color(QPalette::Window), originalWindow);
    }
};

QTEST_MAIN(TThemeTest)
#include "tst_theme.moc"
