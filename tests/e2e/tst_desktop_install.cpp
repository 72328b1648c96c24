// Per-user installation as a desktop program: scripts/install.sh and scripts/uninstall.sh run
// into the harness's private HOME, a velquist: link opened with xdg-open reaches the installed
// client, and the first start of a fresh installation shows the starter window with live alerts.
#include "account/zkLoginForm.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkInstance.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTableView>
#include <QThread>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

const QString Mailbox = QStringLiteral("\\Software\\Velquist Client\\URL Handler");

struct TResult {
    int Code = -1;
    QByteArray Out, Err;
};

// What a program the harness started gave when it ended (-1: it crashed or did not end).
TResult Finished(TClientRun& p, int ms = 120000) {
    TResult r;
    const bool ended = p.waitFinished(ms);
    if (!ended) {
        p.process().kill();
        p.waitFinished();
    }
    r.Code = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.process().readAllStandardOutput();
    r.Err = p.stdErr();
    return r;
}

int mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

} // namespace

class TDesktopInstallTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TWholeProcessHarness> H;
    QString UserHome;
    // What every program here gets on top of the harness's environment, and what it does not.
    QProcessEnvironment Env;
    QStringList Unset;

    TClientRun& start(const QString& program, const QStringList& args) {
        return H->startProgram(program, args, Env, Unset);
    }
    TResult run(const QString& program, const QStringList& args) {
        return Finished(start(program, args));
    }
    TResult script(const QString& name, const QStringList& args) {
        return run(QStringLiteral("bash"),
                   QStringList{QStringLiteral(VELQUIST_SOURCE_DIR "/scripts/") + name} + args);
    }
    QString data(const QString& name) const {
        return H->home().dataHome() + QLatin1Char('/') + name;
    }
    QString bin(const QString& name) const {
        return UserHome + QStringLiteral("/.local/bin/") + name;
    }

    // Whether a process started for a velquist: link still runs (the launch, or the client).
    // Whether a process of this installation runs whose command line matches: a link's launch
    // shows its link until it has posted it; a client is the program with whatever arguments.
    // Only this test's installation counts: other tests may run clients with links too.
    bool runs(const QString& folder, const QString& arguments) {
        const QString pattern =
            QRegularExpression::escape(folder + QStringLiteral("/velquist")) + arguments;
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), pattern});
        return pgrep.waitForFinished(10000) && pgrep.exitStatus() == QProcess::NormalExit &&
               pgrep.exitCode() == 0;
    }
    bool linkLaunchRuns(const QString& folder) {
        return runs(folder, QStringLiteral(" .*url:velquist://"));
    }
    bool clientRuns(const QString& folder) { return runs(folder, QStringLiteral("( |$)")); }

private slots:
    void init() {
        H = std::make_unique<TWholeProcessHarness>();
        TUserStore::ResetInstance();
        UserHome = H->home().path();
        Env = QProcessEnvironment();
        Env.insert(QStringLiteral("VELQUIST_BUILD_DIR"), QStringLiteral(VELQUIST_BIN_DIR));
        // xdg-open asks the MIME defaults only when it sees a display; the client draws
        // offscreen, so this one is never opened.
        Env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":9999"));
        // No desktop of whoever runs the tests: the MIME defaults are this home's alone.
        Unset.clear();
        for (const char* desktop : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                    "GNOME_DESKTOP_SESSION_ID", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"})
            Unset << QString::fromLatin1(desktop);
    }
    void cleanup() {
        H.reset();
        TUserStore::ResetInstance();
    }

    // Install into a folder with blanks, open a link with xdg-open, install again over the
    // user's changes, uninstall.
    void installOpenLinkAndUninstall() {
        const QString folder = UserHome + QStringLiteral("/my apps/velquist");
        TResult r = script(QStringLiteral("install.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());

        for (const char* program : {"velquist", "velquist-store", "velquist-link", "velquist-alert",
                                    "velquist-history"}) {
            QCOMPARE(mode(folder + QLatin1Char('/') + QLatin1String(program)), 0755);
            QCOMPARE(mode(bin(QLatin1String(program))), 0755);
        }
        for (const char* file :
             {"splash.bmp", "velquist.ico", "Settings.ini", "SavedWindows/Running Up.zka",
              "Sounds/Chime.wav", "Sounds/Ping.wav"})
            QVERIFY2(QFileInfo(folder + QLatin1Char('/') + QLatin1String(file)).size() > 0, file);
        const QString entry = data(QStringLiteral("applications/velquist.desktop"));
        QCOMPARE(mode(entry), 0644);
        QVERIFY(ReadWholeFile(entry).contains("\nExec=" + bin("velquist").toUtf8() + " /url:%u\n"));
        for (const char* size : {"16x16", "32x32", "48x48", "256x256"})
            QVERIFY2(
                QFileInfo::exists(data(
                    QStringLiteral("icons/hicolor/%1/apps/velquist.png").arg(QLatin1String(size)))),
                size);
        r = run(QStringLiteral("desktop-file-validate"), {entry});
        QVERIFY2(r.Code == 0 && r.Out.isEmpty(), r.Out.constData());
        const QStringList query{QStringLiteral("query"), QStringLiteral("default"),
                                QStringLiteral("x-scheme-handler/velquist")};
        r = run(QStringLiteral("xdg-mime"), query);
        QCOMPARE(r.Out.trimmed(), QByteArray("velquist.desktop"));

        {
            // The first start opens the starter window and saves the layout it found.
            TClientRun& client = start(bin(QStringLiteral("velquist")), {});
            const QString layout = folder + QStringLiteral("/SavedWindows/DEFAULT_LAYOUT.zkl");
            QVERIFY(WaitForFile(layout, 30000));
            r = run(QStringLiteral("xdg-open"),
                    {QStringLiteral("velquist://NewAlertWindow/?WindowConfig=abc")});
            QVERIFY2(r.Code == 0, r.Err.constData());
            // xdg-open returns at once: the link's launch runs on its own. Once it has posted
            // the link and ended, the running client empties the mailbox in the tick that
            // opens the window.
            QTRY_VERIFY_WITH_TIMEOUT(!linkLaunchRuns(folder), 10000);
            const QStringList get{QStringLiteral("get"), Mailbox, QString()};
            QTRY_COMPARE_WITH_TIMEOUT(run(bin(QStringLiteral("velquist-store")), get).Out,
                                      QByteArray("\n"), 10000);
            client.terminate();
            QVERIFY(client.waitFinished());
            QCOMPARE(client.exitCode(), 0);
            const QByteArray saved = ReadWholeFile(layout);
            QVERIFY2(saved.contains("\nAlertCount=2"), saved.constData());
            QVERIFY(saved.contains("\nDataConfig=WN=Running%20Up&S=\n"));
            QVERIFY(saved.contains("\nDataConfig=WindowConfig=abc\n"));
            QVERIFY(saved.contains("\nWindowConfig=abc\n"));
        }

        {
            const QString lock = TInstanceGuard::LockName(folder);
            // Whatever fails below, the client the link started does not outlive the test.
            const auto stop = qScopeGuard([&] {
                TInstanceGuard::SendCommand(lock, "terminate");
                QDeadlineTimer deadline(10000);
                while (clientRuns(folder) && !deadline.hasExpired())
                    QThread::msleep(100);
                run(QStringLiteral("pkill"),
                    {QStringLiteral("-KILL"), QStringLiteral("-f"),
                     QRegularExpression::escape(folder + QStringLiteral("/velquist")) +
                         QStringLiteral("( |$)")});
            });
            // A link with no client running starts one that xdg-open does not wait for.
            QElapsedTimer clock;
            clock.start();
            r = run(QStringLiteral("xdg-open"),
                    {QStringLiteral("velquist://NewAlertWindow/?WindowConfig=detached")});
            QVERIFY2(r.Code == 0, r.Err.constData());
            const qint64 returnedAfter = clock.elapsed();
            QTRY_VERIFY_WITH_TIMEOUT(TInstanceGuard::SendCommand(lock, "activate"), 20000);
            QVERIFY2(returnedAfter < 5000, qPrintable(QString::number(returnedAfter)));
            QVERIFY(TInstanceGuard::SendCommand(lock, "terminate"));
            QTRY_VERIFY_WITH_TIMEOUT(!clientRuns(folder), 20000);
        }

        // Installing again keeps what the user changed or removed.
        WriteTextFile(folder + QStringLiteral("/Settings.ini"),
                      "[Settings]\nApplicationTitle=Mine\n");
        WriteTextFile(folder + QStringLiteral("/Local.ini"), "[Settings]\nShowGrid=1\n");
        QVERIFY(QFile::remove(folder + QStringLiteral("/Sounds/Ping.wav")));
        QVERIFY(QFile::remove(folder + QStringLiteral("/SavedWindows/Running Up.zka")));
        r = script(QStringLiteral("install.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());
        QCOMPARE(ReadWholeFile(folder + QStringLiteral("/Settings.ini")),
                 QByteArray("[Settings]\nApplicationTitle=Mine\n"));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Sounds/Ping.wav")));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/SavedWindows/Running Up.zka")));

        r = script(QStringLiteral("uninstall.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());
        for (const QString& gone :
             {folder + QStringLiteral("/velquist"), folder + QStringLiteral("/velquist.ico"),
              bin(QStringLiteral("velquist")), bin(QStringLiteral("velquist-link")), entry,
              data(QStringLiteral("icons/hicolor/32x32/apps/velquist.png"))})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
        for (const char* kept :
             {"Settings.ini", "Local.ini", "Sounds/Chime.wav", "SavedWindows/DEFAULT_LAYOUT.zkl"})
            QVERIFY2(QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(kept)), kept);
        QCOMPARE(run(QStringLiteral("xdg-mime"), query).Out.trimmed(), QByteArray());
        // No empty folders or stub files stay behind in the user's home.
        for (const QString& gone :
             {UserHome + QStringLiteral("/.local/bin"), data(QStringLiteral("icons")),
              data(QStringLiteral("applications")),
              H->home().configHome() + QStringLiteral("/mimeapps.list")})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));

        // Installing again into what the uninstall kept works and takes up the user's files.
        r = script(QStringLiteral("install.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());
        QCOMPARE(mode(bin(QStringLiteral("velquist"))), 0755);
        QCOMPARE(ReadWholeFile(folder + QStringLiteral("/Settings.ini")),
                 QByteArray("[Settings]\nApplicationTitle=Mine\n"));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/SavedWindows/DEFAULT_LAYOUT.zkl")));
        // This home's ~/.profile does not put ~/.local/bin on the PATH (as root's): say how.
        QVERIFY2(r.Out.contains("PATH=\"$HOME/.local/bin:$PATH\""), r.Out.constData());
        r = script(QStringLiteral("uninstall.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());
    }

    // Every user can read a process's command line: the launcher hands a link (it may hold a
    // password) on in the environment, which only its owner can read.
    void launcherKeepsTheLinkOffCommandLines() {
        const QString folder = UserHome + QStringLiteral("/opt/velquist");
        TResult r = script(QStringLiteral("install.sh"), {folder});
        QVERIFY2(r.Code == 0, r.Err.constData());
        const auto uninstall =
            qScopeGuard([&] { script(QStringLiteral("uninstall.sh"), {folder}); });
        // A stand-in for the client that writes down what it was given.
        const QString seen = H->home().path() + QStringLiteral("/seen");
        WriteTextFile(folder + QStringLiteral("/velquist"),
                      "#!/bin/sh\n{ for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                      "  printf 'env=%s\\n' \"$VELQUIST_LINK_ARGUMENT\"; } >'" +
                          seen.toUtf8() + ".tmp'\nmv '" + seen.toUtf8() + ".tmp' '" +
                          seen.toUtf8() + "'\n");
        QVERIFY(QFile::setPermissions(folder + QStringLiteral("/velquist"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QList<std::pair<QStringList, QByteArray>> cases = {
            {{"/url:velquist://Login/?UserName=a&Password=S3cret"},
             "env=/url:velquist://Login/?UserName=a&Password=S3cret\n"},
            // xdg-open without a desktop passes the link apart.
            {{"/url:%u", "velquist://Login/?Password=Tw0"},
             "env=/url:velquist://Login/?Password=Tw0\n"},
            {{"-x"}, "arg=-x\nenv=\n"},
        };
        for (const auto& [arguments, expected] : cases) {
            QFile::remove(seen);
            r = run(bin(QStringLiteral("velquist")), arguments);
            QCOMPARE(r.Code, 0);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(seen), 10000);
            QCOMPARE(ReadWholeFile(seen), expected);
        }
    }

    void refusesAFolderOfOtherFiles() {
        const QString folder = UserHome + QStringLiteral("/Documents");
        WriteTextFile(folder + QStringLiteral("/notes.txt"), "mine");
        TResult r = script(QStringLiteral("install.sh"), {folder});
        QVERIFY(r.Code != 0);
        QVERIFY2(r.Err.contains("not empty"), r.Err.constData());
        QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("notes.txt")});
        r = script(QStringLiteral("uninstall.sh"), {folder});
        QVERIFY(r.Code != 0);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/notes.txt")));
    }

    // The README's one-off look at an installed client, run as written from a home with a fresh
    // installation and no display: a screenshot, and a client that is stopped, not lost with
    // the X server (layout saved, lock and sockets gone).
    void readmeOneOffLookWorksAsWritten() {
        for (const char* tool : {"xvfb-run", "import"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh "
                                                "installs it)")
                                     .arg(QString::fromLatin1(tool))));
        const QString readme = QString::fromUtf8(ReadWholeFile(VELQUIST_SOURCE_DIR "/README.md"));
        const qsizetype at =
            readme.indexOf(QStringLiteral("a one-off look at an installed client:"));
        QVERIFY(at >= 0);
        QStringList lines;
        for (const QString& line : readme.mid(at).split(QLatin1Char('\n')).mid(2)) {
            if (!line.startsWith(QStringLiteral("    ")))
                break;
            lines << line.mid(4);
        }
        QVERIFY(!lines.isEmpty());

        TResult r = script(QStringLiteral("install.sh"), {});
        QVERIFY2(r.Code == 0, r.Err.constData());
        const QString folder = UserHome + QStringLiteral("/.local/opt/velquist");
        const auto uninstall = qScopeGuard([&] { script(QStringLiteral("uninstall.sh"), {}); });
        // No display, no session bus (the harness gives none), in the home.
        H->setWorkingDir(UserHome);
        r = Finished(H->startProgram(QStringLiteral("sh"),
                                     {QStringLiteral("-c"), lines.join(QLatin1Char('\n'))}, Env,
                                     Unset + QStringList{QStringLiteral("DISPLAY"),
                                                         QStringLiteral("WAYLAND_DISPLAY"),
                                                         QStringLiteral("QT_QPA_PLATFORM")}),
                     60000);
        H->setWorkingDir(QString());
        QVERIFY2(r.Code == 0 && !r.Err.contains("No such process"), r.Err.constData());
        QVERIFY(QFileInfo(UserHome + QStringLiteral("/velquist.png")).size() > 0);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/SavedWindows/DEFAULT_LAYOUT.zkl")));
        const QStringList left =
            QDir(H->home().configHome() + QStringLiteral("/velquist/run"))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        QVERIFY(!clientRuns(folder));
    }

    // The first start of a fresh installation, on the simulated service: one alert window, and
    // alerts in it once DEMO is logged in.
    void firstStartShowsLiveAlerts() {
        // The harness's installation, made whole as cmake installs a folder.
        TResult r = run(QStringLiteral("cmake"),
                        {QStringLiteral("--install"), QStringLiteral(VELQUIST_BIN_DIR),
                         QStringLiteral("--prefix"), H->installDir()});
        QVERIFY2(r.Code == 0, r.Err.constData());
        const QString oldCwd = QDir::currentPath();
        QDir::setCurrent(H->installDir());
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        {
            TZentrikProMainForm form;
            form.show();
            const QList<TAlertForm*> windows = form.AlertWindows();
            QCOMPARE(windows.size(), 1);
            QCOMPARE(windows.first()->ZentrikWindowX->WindowName(), QStringLiteral("Running Up"));
            auto* list = windows.first()->findChild<QTableView*>(QStringLiteral("AlertsTableView"));
            QVERIFY(list);
            QCOMPARE(list->model()->rowCount(), 0);
            form.LoginForm->LoginWith(QStringLiteral("DEMO"), QStringLiteral("any"));
            QTRY_VERIFY_WITH_TIMEOUT(list->model()->rowCount() >= 2, 10000);
        }
        QDir::setCurrent(oldCwd);
        zkIni::ClearCache();
    }
};

QTEST_MAIN(TDesktopInstallTest)
#include "tst_desktop_install.moc"
