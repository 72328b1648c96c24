// Themes on a real desktop: a private Xvfb with openbox, screenshots of the main window, an
// alert window in red type and the About dialog, in the dark theme, the light one, and
// following the desktop's preference as the real appearance portal (xdg-desktop-portal with
// its GTK back end, on a private session bus) reports it and changes it while the client runs.
// Every coloured text must keep 4.5:1 against what it is drawn on.
#include "config/zkSettings.h"
#include "config/zkThemeSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "shell/zkLayouts.h"
#include "zkContrast.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <optional>

namespace {

const QString MainCaption = QStringLiteral("Velquist");
const QString AlertCaption = QStringLiteral("Running Up");
const QString AboutCaption = QStringLiteral("About Velquist");

bool Reddish(const QColor& c) {
    return c.red() > c.green() + 60 && c.red() > c.blue() + 60;
}
bool Greenish(const QColor& c) {
    return c.green() > c.red() + 40 && c.green() > c.blue() + 20;
}
bool Bluish(const QColor& c) {
    return c.blue() > c.red() + 40 && c.blue() > c.green() + 40;
}
bool DarkBackground(const TRegionContrast& c) {
    return zkTheme::Luminance(c.Background) < 0.2;
}

// The list's rows as a screenshot shows them: runs of pixel lines of one background (the rows
// alternate theirs, so neighbours differ). A row's text is judged as a whole: a slice of it may
// hold only the anti-aliased edge of a descender, lighter than the colour it was drawn in.
QList<QRect> RowBands(const QImage& shot, const QRect& area) {
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    QList<QRect> bands;
    QColor current;
    int start = area.top();
    for (int y = area.top(); y <= area.bottom() + 1; ++y) {
        const QColor background =
            y <= area.bottom()
                ? MeasureContrast(image, QRect(area.left(), y, area.width(), 1)).Background
                : QColor();
        if (y > area.top() && background != current) {
            bands.append(QRect(area.left(), start, area.width(), y - start));
            start = y;
        }
        current = background;
    }
    // Thinner runs are grid lines, or the sliver of a row the window's edge cuts.
    bands.removeIf([](const QRect& band) { return band.height() < 4; });
    return bands;
}

// A desktop portal on a private bus: the GTK back end (reading the GNOME setting from a key
// file of the test's own) and the portal itself, ended with the test.
class TAppearancePortal {
public:
    ~TAppearancePortal() {
        StopProcess(Portal, 3000);
        StopProcess(Backend, 3000);
    }
    QString Start(const QString& display, const QString& busAddress) {
        for (const char* program :
             {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gtk"})
            if (!QFileInfo(QString::fromLatin1(program)).isExecutable())
                return QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)")
                    .arg(QString::fromLatin1(program));
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("DISPLAY"), display);
        Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        Env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        Env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        Env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.path());
        Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Dir.path());
        if (!SetScheme(QStringLiteral("prefer-dark")))
            return QStringLiteral("gsettings could not store the colour scheme");
        for (QProcess* p : {&Backend, &Portal}) {
            p->setProcessEnvironment(Env);
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        }
        Backend.start(QStringLiteral("/usr/libexec/xdg-desktop-portal-gtk"), {});
        Portal.start(QStringLiteral("/usr/libexec/xdg-desktop-portal"), {});
        // Up once it answers for the setting.
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QProcess read;
            read.setProcessEnvironment(Env);
            read.start(QStringLiteral("gdbus"),
                       {"call", "--session", "--dest", "org.freedesktop.portal.Desktop",
                        "--object-path", "/org/freedesktop/portal/desktop", "--method",
                        "org.freedesktop.portal.Settings.Read", "org.freedesktop.appearance",
                        "color-scheme"});
            read.waitForFinished(3000);
            if (read.exitCode() == 0 && read.readAllStandardOutput().contains("uint32 1"))
                return QString();
            QThread::msleep(100);
        }
        return QStringLiteral("the portal did not answer: %1")
            .arg(QString::fromLocal8Bit(Portal.readAll() + Backend.readAll()));
    }
    // GNOME's own setting, as its Settings panel stores it.
    bool SetScheme(const QString& scheme) {
        QProcess set;
        set.setProcessEnvironment(Env);
        set.start(QStringLiteral("gsettings"),
                  {"set", "org.gnome.desktop.interface", "color-scheme", scheme});
        return set.waitForFinished(5000) && set.exitCode() == 0;
    }

private:
    QTemporaryDir Dir;
    QProcessEnvironment Env;
    QProcess Backend, Portal;
};

} // namespace

class TThemeE2ETest : public QObject {
    Q_OBJECT

private:
    // This test's installation and desktop.
    std::unique_ptr<TWholeProcessHarness> H;

    QRect ClientRect(const QString& caption) const { return H->desktop().ClientRect(caption); }
    QImage Screenshot() const { return H->screenshot(); }

    // One installation on a desktop of its own that logs in as DEMO and opens one alert window
    // in red type (a colour that is short of 4.5:1 on white and on the dark list alike), with
    // alerts coming fast, the About dialog open.
    QString MakeInstallation(std::optional<TThemeChoice> theme) {
        H = std::make_unique<TWholeProcessHarness>();
        const QString file = H->installDir() + QStringLiteral("/SavedWindows/desk.zkl");
        QDir().mkpath(H->installDir() + QStringLiteral("/SavedWindows"));
        StoreDeskChoices(file, true);
        if (theme) {
            WriteThemeChoice(TSettingsStore::Registry(), *theme);
            TUserStore::ResetInstance();
        }
        SetDefaultWindowRecord();
        TLayout layout;
        layout.MainLeft = 20;
        layout.MainTop = 20;
        TLayoutWindow w;
        w.Record = DefaultWindowRecord();
        w.Record.Left = 20;
        w.Record.Top = 640;
        w.Record.Width = 440;
        w.Record.Height = 300;
        w.Record.FontColor = 0x0000FF; // red
        w.Record.DataConfig = QStringLiteral("WN=Running%20Up&S=");
        layout.Windows.push_back(w);
        WriteLayout(TSettingsStore::IniFile(file), layout);
        WriteTextFile(H->installDir() + QStringLiteral("/Settings.ini"),
                      "[ActiveX]\nSimAlertInterval=100\n");
        return H->needDesktop();
    }
    TClientRun& StartClient() {
        QProcessEnvironment env;
        env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), QStringLiteral("AboutMenuItem"));
        return H->startClient({}, env);
    }
    bool WaitShown(TClientRun& client) const {
        return H->waitShown({MainCaption, AlertCaption, AboutCaption}, client);
    }

    // The checks on one screenshot: the account bars, the red alert rows and the About link
    // are readable, on backgrounds dark or light as the theme is.
    void CheckScreen(const QImage& shot, bool dark, const QString& when) {
        QVERIFY2(!shot.isNull(), qPrintable(when + ": no screenshot"));
        const QRect main = ClientRect(MainCaption);
        // The two account bars are the last 2 x 19 pixels of the main window: "Connected as"
        // and the expiry 30 days away, both green.
        for (int bar = 0; bar < 2; ++bar) {
            const QRect r(main.left() + 2, main.bottom() - 37 + 19 * bar, main.width() - 4, 17);
            const TRegionContrast c = MeasureContrast(shot, r);
            const QString what =
                QStringLiteral("%1: account bar %2 %3").arg(when).arg(bar).arg(Describe(c));
            QVERIFY2(DarkBackground(c) == dark, qPrintable(what));
            QVERIFY2(Greenish(c.Text), qPrintable(what));
            QVERIFY2(c.Ratio >= zkTheme::MinimumTextContrast, qPrintable(what));
        }
        // The alert rows below the header, time and symbol columns: each row with red text has
        // it readable on its own background. The last band may be a row the window cuts off.
        const QRect alerts = ClientRect(AlertCaption);
        const QList<QRect> rows =
            RowBands(shot, QRect(alerts.left() + 2, alerts.top() + 22, 140, alerts.height() - 24));
        int redRows = 0;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const TRegionContrast c = MeasureContrast(shot, rows[i], Reddish);
            const QString what = QStringLiteral("%1: alert row at %2 (%3 high) %4")
                                     .arg(when)
                                     .arg(rows[i].top())
                                     .arg(rows[i].height())
                                     .arg(Describe(c));
            QVERIFY2(DarkBackground(c) == dark, qPrintable(what));
            if (!c.Text.isValid() || i == rows.size() - 1)
                continue;
            ++redRows;
            QVERIFY2(c.Ratio >= zkTheme::MinimumTextContrast, qPrintable(what));
        }
        QVERIFY2(
            redRows >= 5,
            qPrintable(QStringLiteral("%1: %2 rows of red alert text").arg(when).arg(redRows)));
        // The About dialog's link: its blue pixels against the panel around them.
        const QRect about = ClientRect(AboutCaption);
        QRect link;
        for (int y = about.top(); y <= about.bottom(); ++y)
            for (int x = about.left(); x <= about.right(); ++x)
                if (Bluish(shot.pixelColor(x, y)))
                    link |= QRect(x, y, 1, 1);
        QVERIFY2(link.width() > 40, qPrintable(when + ": no link in the About dialog"));
        const TRegionContrast c = MeasureContrast(shot, link.adjusted(-3, -3, 3, 3), Bluish);
        const QString what = QStringLiteral("%1: About link %2").arg(when, Describe(c));
        QVERIFY2(DarkBackground(c) == dark, qPrintable(what));
        QVERIFY2(c.Ratio >= zkTheme::MinimumTextContrast, qPrintable(what));
    }

    void RunChosenTheme(TThemeChoice theme) {
        HARNESS_NEED(MakeInstallation(theme));
        TClientRun& client = StartClient();
        QVERIFY(client.waitStarted());
        QVERIFY2(WaitShown(client), client.stdErr().constData());
        QThread::msleep(1500); // alerts fill the rows
        const bool dark = theme == TThemeChoice::Dark;
        CheckScreen(Screenshot(), dark, dark ? QStringLiteral("dark") : QStringLiteral("light"));
        client.terminate();
        QVERIFY(client.waitFinished());
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
            QSKIP("ImageMagick's import is not installed (scripts/install-deps.sh installs it)");
    }
    void cleanup() { H.reset(); }

    void darkTheme() { RunChosenTheme(TThemeChoice::Dark); }
    void lightTheme() { RunChosenTheme(TThemeChoice::Light); }

    // Nothing chosen: the client follows the desktop, at start and when it changes.
    void followsTheDesktop() {
        HARNESS_NEED(MakeInstallation(std::nullopt));
        HARNESS_NEED(H->needSessionBus());
        TAppearancePortal portal;
        HARNESS_NEED(portal.Start(H->desktop().Display, H->bus().Address));
        TClientRun& client = StartClient();
        QVERIFY(client.waitStarted());
        QVERIFY2(WaitShown(client), client.stdErr().constData());
        QThread::msleep(1500);
        CheckScreen(Screenshot(), true, QStringLiteral("desktop prefers dark"));

        QVERIFY(portal.SetScheme(QStringLiteral("prefer-light")));
        // The list turns light once the portal has said so.
        QDeadlineTimer deadline(10000);
        QImage shot;
        while (!deadline.hasExpired()) {
            shot = Screenshot();
            const QRect alerts = ClientRect(AlertCaption);
            if (!DarkBackground(MeasureContrast(shot, alerts.adjusted(2, 22, -2, -2))))
                break;
            QThread::msleep(200);
        }
        QThread::msleep(300); // the windows' own repaints after the list's
        CheckScreen(Screenshot(), false, QStringLiteral("desktop changed to light"));
        client.terminate();
        QVERIFY(client.waitFinished());
    }
};

QTEST_MAIN(TThemeE2ETest)
#include "tst_theme_e2e.moc"
