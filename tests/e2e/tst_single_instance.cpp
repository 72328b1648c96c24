// Whole-process tests of start-up: the built client copied into temporary installation
// folders, with private XDG folders.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkInstance.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
QString mailbox(const QString& keyPath = QString::fromLatin1(DefaultSettingsKeyPath())) {
    TUserStore::ResetInstance();
    const QString value =
        ReadStringValue(TSettingsStore::Registry(), keyPath + QStringLiteral("\\URL Handler"),
                        QString(), QStringLiteral("<missing>"));
    TUserStore::ResetInstance();
    return value;
}

// A start folder whose Settings.ini gives the running client a key path of its own, so the
// mailbox a test reads is one that client never polls and empties.
struct TPollerFolder {
    QTemporaryDir Dir;
    TPollerFolder() {
        WriteTextFile(Dir.filePath("Settings.ini"), "[Settings]\nRegistryKey=\\Software\\Poller\n");
    }
    QString path() const { return Dir.path(); }
};

QString socketOf(const TTestInstallation& inst) {
    return TInstanceGuard::SocketPath(TInstanceGuard::LockName(inst.dir()));
}

} // namespace

class TSingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void secondLaunchHandsOverAndEnds();
    void otherFolderRunsSideBySide();
    void registryKeyOfTheStartFolderMovesTheMailbox();
    void oldComponentsEndTheProcessWithTheMessage();
    void terminateSignalClosesTheClient();
    void runningClientTakesTheLink();
    void simultaneousLaunchesShareTheMailbox();
    void loginPasswordLeavesTheCommandLine();
    void noSafeRuntimeFolderEndsWithTheReason();
    void withoutADisplayEndsWithOneLine_data();
    void withoutADisplayEndsWithOneLine();
};

void TSingleInstanceTest::secondLaunchHandsOverAndEnds() {
    TTestHome home;
    TTestInstallation inst;
    QVERIFY(inst.isValid());
    TPollerFolder poller;
    TClientRun first(inst.clientPath(), {}, poller.path());
    QVERIFY(first.waitStarted());
    QVERIFY2(WaitForFile(socketOf(inst)), first.stdErr().constData());

    QElapsedTimer timer;
    timer.start();
    TClientRun second(inst.clientPath(),
                      {"/url:velquist://first", "-url:ignored", "/URL:velquist://second"});
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // Silently: no prompt, nothing on stderr about a dialog.
    QVERIFY(!second.stdErr().contains("velquist prompt"));
    QCOMPARE(mailbox(), QString("velquist://second"));
    QCOMPARE(first.process().state(), QProcess::Running);

    // A lone "-url:" launch leaves the mailbox alone.
    TClientRun third(inst.clientPath(), {"-url:nothing", "url:nothing"});
    QVERIFY(third.waitFinished());
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(mailbox(), QString("velquist://second"));

    first.terminate();
    QVERIFY(first.waitFinished());
    QCOMPARE(first.exitCode(), 0);
}

void TSingleInstanceTest::otherFolderRunsSideBySide() {
    TTestHome home;
    TTestInstallation a, b;
    TClientRun first(a.clientPath(), {});
    TClientRun second(b.clientPath(), {});
    QVERIFY(WaitForFile(socketOf(a)));
    QVERIFY(WaitForFile(socketOf(b)));
    QTest::qWait(300);
    QCOMPARE(first.process().state(), QProcess::Running);
    QCOMPARE(second.process().state(), QProcess::Running);
    first.terminate();
    second.terminate();
    QVERIFY(first.waitFinished());
    QVERIFY(second.waitFinished());
}

void TSingleInstanceTest::registryKeyOfTheStartFolderMovesTheMailbox() {
    TTestHome home;
    TTestInstallation inst;
    QTemporaryDir startDir;
    WriteTextFile(startDir.filePath("Settings.ini"),
                  "[Settings]\r\nRegistryKey=\\Software\\Test Client\r\n");
    TPollerFolder poller;
    TClientRun first(inst.clientPath(), {}, poller.path());
    QVERIFY(WaitForFile(socketOf(inst)));

    TClientRun second(inst.clientPath(), {"/url:velquist://moved"}, startDir.path());
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(mailbox("\\Software\\Test Client"), QString("velquist://moved"));
    QCOMPARE(mailbox(), QString("<missing>"));

    // Started elsewhere without a Settings.ini: the default path again.
    QTemporaryDir plainDir;
    TClientRun third(inst.clientPath(), {"/url:velquist://plain"}, plainDir.path());
    QVERIFY(third.waitFinished());
    QCOMPARE(mailbox(), QString("velquist://plain"));
    first.terminate();
    QVERIFY(first.waitFinished());
}

void TSingleInstanceTest::oldComponentsEndTheProcessWithTheMessage() {
    TTestHome home;
    TTestInstallation inst;
    QProcessEnvironment env;
    env.insert("VELQUIST_COMPONENT_VERSIONS", "ZentrikWindow_TLB=4.2");
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun run(inst.clientPath(), {}, QString(), env);
    QVERIFY(run.waitFinished());
    QVERIFY(run.exitCode() != 0);
    const QByteArray err = run.stdErr();
    QVERIFY2(err.contains("ActiveX object (WindowX) not registered or has invalid version "
                          "number.\r\nExpecting \"4.3\", found \"4.2\".\r\nApplication will be "
                          "terminated. Please reinstall the application."),
             err.constData());

    QProcessEnvironment env2;
    env2.insert("VELQUIST_COMPONENT_VERSIONS", "ZentrikGenericConnector2Proj1_TLB=");
    TClientRun run2(inst.clientPath(), {}, QString(), env2);
    QVERIFY(run2.waitFinished());
    QVERIFY(run2.exitCode() != 0);
    QVERIFY(run2.stdErr().contains("(GenericConnector2x)"));
    QVERIFY(run2.stdErr().contains("Expecting \"1.4\", found \"\""));
}

void TSingleInstanceTest::terminateSignalClosesTheClient() {
    TTestHome home;
    TTestInstallation inst;
    TClientRun run(inst.clientPath(), {});
    QVERIFY(WaitForFile(socketOf(inst)));
    // The "terminate" command on the socket ends it like SIGTERM does.
    QVERIFY(TInstanceGuard::SendCommand(TInstanceGuard::LockName(inst.dir()), "terminate"));
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    // The lock is free again: the next launch runs.
    TClientRun again(inst.clientPath(), {});
    QVERIFY(WaitForFile(socketOf(inst)));
    QTest::qWait(200);
    QCOMPARE(again.process().state(), QProcess::Running);
    again.terminate();
    QVERIFY(again.waitFinished());
}

void TSingleInstanceTest::runningClientTakesTheLink() {
    TTestHome home;
    TTestInstallation inst;
    TClientRun first(inst.clientPath(), {});
    QVERIFY(WaitForFile(socketOf(inst)));
    TClientRun second(inst.clientPath(), {"/url:velquist://NewAlertWindow/"});
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitCode(), 0);
    // Within about a second the running client empties the mailbox; the link is taken once.
    QTRY_COMPARE_WITH_TIMEOUT(mailbox(), QString(), 5000);
    first.terminate();
    QVERIFY(first.waitFinished());
    QCOMPARE(first.exitCode(), 0);
}

void TSingleInstanceTest::simultaneousLaunchesShareTheMailbox() {
    TTestHome home;
    TTestInstallation inst;
    TPollerFolder poller;
    TClientRun first(inst.clientPath(), {}, poller.path());
    QVERIFY(WaitForFile(socketOf(inst)));
    // Eight later launches at once, each writing its link: none may fail or damage the store.
    std::vector<std::unique_ptr<TClientRun>> launches;
    QStringList links;
    for (int i = 0; i < 8; ++i) {
        links << QStringLiteral("velquist://NewAlertWindow/?n=%1").arg(i);
        launches.push_back(
            std::make_unique<TClientRun>(inst.clientPath(), QStringList{"/url:" + links.last()}));
    }
    for (auto& run : launches) {
        QVERIFY(run->waitFinished());
        QCOMPARE(run->exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->exitCode(), 0);
        QVERIFY2(!run->stdErr().contains("velquist:"), run->stdErr().constData());
    }
    QVERIFY(links.contains(mailbox()));
    TUserStore::ResetInstance();
    QCOMPARE(QDir(QFileInfo(TUserStore::DefaultFileName()).path())
                 .entryList({"*.corrupt*"}, QDir::Files)
                 .size(),
             0);
    first.terminate();
    QVERIFY(first.waitFinished());
}

void TSingleInstanceTest::loginPasswordLeavesTheCommandLine() {
    TTestHome home;
    TTestInstallation inst;
    TClientRun run(inst.clientPath(), {"/url:velquist://Login/?UserName=ann&Password=Sup3rSecret"});
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitForFile(socketOf(inst)), run.stdErr().constData());
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(run.process().processId()));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    const QByteArray seen = cmdline.readAll();
    QVERIFY2(!seen.contains("Sup3rSecret") && !seen.contains("UserName"), seen.constData());
    QVERIFY(seen.contains("/url:"));
    run.terminate();
    QVERIFY(run.waitFinished());
}

void TSingleInstanceTest::noSafeRuntimeFolderEndsWithTheReason() {
    TTestHome home;
    TTestInstallation inst;
    // Both the runtime folder and its stand-in are links to a folder anyone may enter.
    const QString open = home.path() + "/open";
    QVERIFY(QDir().mkdir(open));
    QVERIFY(QFile::link(open, home.runtimeDir() + "/velquist"));
    QVERIFY(QDir().mkpath(home.configHome() + "/velquist"));
    QVERIFY(QFile::link(open, home.configHome() + "/velquist/run"));
    QProcessEnvironment env;
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun run(inst.clientPath(), {}, QString(), env);
    QVERIFY(run.waitFinished());
    QVERIFY(run.exitCode() != 0);
    const QByteArray err = run.stdErr();
    QVERIFY2(err.contains("velquist prompt:") && err.contains("no safe folder") &&
                 err.contains("symbolic link"),
             err.constData());
    QVERIFY(QDir(open).isEmpty());
}

void TSingleInstanceTest::withoutADisplayEndsWithOneLine_data() {
    QTest::addColumn<QString>("display");
    QTest::newRow("no display at all") << QString();
    QTest::newRow("a display nobody serves") << QStringLiteral(":987");
}

void TSingleInstanceTest::withoutADisplayEndsWithOneLine() {
    QFETCH(QString, display);
    TTestHome home;
    TTestInstallation inst;
    QProcessEnvironment env;
    QStringList unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
    if (!display.isEmpty()) {
        env.insert("DISPLAY", display);
        unset.removeAll("DISPLAY");
    }
    TClientRun run(inst.clientPath(), {}, QString(), env, unset);
    QVERIFY(run.waitFinished());
    const QByteArray err = run.stdErr();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 1, err.constData());
    QVERIFY2(
        err.startsWith("Velquist needs a graphical desktop (X11 or Wayland): no display found\n"),
        err.constData());
    QVERIFY2(!err.contains("plugin"), err.constData());
    // Nothing was started that a later launch would meet.
    QVERIFY(!QFileInfo::exists(socketOf(inst)));
}

QTEST_MAIN(TSingleInstanceTest)
#include "tst_single_instance.moc"
