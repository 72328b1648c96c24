// Whole-process tests of start-up: the harness's copy of the built client in its private
// folders, started as a user would, twice at once, or where something is in its way.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkInstance.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString socketOf(const QString& installDir) {
    return TInstanceGuard::SocketPath(TInstanceGuard::LockName(installDir));
}

QString socketOf(const TWholeProcessHarness& h) {
    return socketOf(h.installDir());
}

// The harness's client started in dir (empty: the test's own folder).
TClientRun& Start(TWholeProcessHarness& h, const QStringList& arguments,
                  const QString& dir = QString(), const QProcessEnvironment& env = {},
                  const QStringList& unset = {}) {
    h.setWorkingDir(dir);
    TClientRun& run = h.startClient(arguments, env, unset);
    h.setWorkingDir(QString());
    return run;
}

QByteArray commandLineOf(QProcess& process) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(process.processId()));
    return cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll() : QByteArray();
}

// Feeds text to a FIFO each time a reader has opened it, until done() says so; false on
// timeout. The first time a reader is there, atFirstReader runs while the reader still waits.
template <typename Done, typename AtFirst>
bool FeedFifo(const QString& fifo, const QByteArray& text, Done done, AtFirst atFirstReader) {
    const QByteArray name = QFile::encodeName(fifo);
    bool first = true;
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            QThread::msleep(5);
            continue;
        }
        if (std::exchange(first, false))
            atFirstReader();
        [[maybe_unused]] const ssize_t n = ::write(fd, text.constData(), size_t(text.size()));
        ::close(fd);
        QThread::msleep(20);
    }
    return true;
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
    void passwordGoesBeforeAnyStartUpWork();
    void launcherLinkComesInTheEnvironment();
    void oneLockWhateverTheRuntimeFolder_data();
    void oneLockWhateverTheRuntimeFolder();
    void ownerlessLockDoesNotBlock();
    void unreachableHolderIsReported();
    void somethingElseInTheLocksPlaceIsNamed();
    void blockedSettingsFolderKeepsLinksAndSaysSo();
    void blockedSettingsFolderOneClientWhateverTheRuntimeFolder_data();
    void blockedSettingsFolderOneClientWhateverTheRuntimeFolder();
    void holderThatNamesNoProcessIsNotCalledProcessZero();
    void terminateEndsALongStartUpStep();
    void killedSavesLeftoversGoAtStart();
    void noSafeRuntimeFolderEndsWithTheReason();
    void withoutADisplayEndsWithOneLine_data();
    void withoutADisplayEndsWithOneLine();
};

void TSingleInstanceTest::secondLaunchHandsOverAndEnds() {
    TWholeProcessHarness h;
    TPollerFolder poller;
    TClientRun& first = Start(h, {}, poller.path());
    QVERIFY(first.waitStarted());
    QVERIFY2(WaitForFile(socketOf(h)), first.stdErr().constData());

    QElapsedTimer timer;
    timer.start();
    TClientRun& second =
        Start(h, {"/url:velquist://first", "-url:ignored", "/URL:velquist://second"});
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // Silently: no prompt, nothing on stderr about a dialog.
    QVERIFY(!second.stdErr().contains("velquist prompt"));
    QCOMPARE(mailbox(), QString("velquist://second"));
    QCOMPARE(first.process().state(), QProcess::Running);

    // A lone "-url:" launch leaves the mailbox alone.
    TClientRun& third = Start(h, {"-url:nothing", "url:nothing"});
    QVERIFY(third.waitFinished());
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(mailbox(), QString("velquist://second"));

    first.terminate();
    QVERIFY(first.waitFinished());
    QCOMPARE(first.exitCode(), 0);
}

void TSingleInstanceTest::otherFolderRunsSideBySide() {
    // A second installation, made first so that it outlives the client the harness ends.
    TTestInstallation other;
    QVERIFY(other.isValid());
    TWholeProcessHarness h;
    TClientRun& first = Start(h, {});
    TClientRun& second = h.startProgram(other.clientPath());
    QVERIFY(WaitForFile(socketOf(h)));
    QVERIFY(WaitForFile(socketOf(other.dir())));
    QTest::qWait(300);
    QCOMPARE(first.process().state(), QProcess::Running);
    QCOMPARE(second.process().state(), QProcess::Running);
    first.terminate();
    second.terminate();
    QVERIFY(first.waitFinished());
    QVERIFY(second.waitFinished());
}

void TSingleInstanceTest::registryKeyOfTheStartFolderMovesTheMailbox() {
    TWholeProcessHarness h;
    QTemporaryDir startDir;
    WriteTextFile(startDir.filePath("Settings.ini"),
                  "[Settings]\r\nRegistryKey=\\Software\\Test Client\r\n");
    TPollerFolder poller;
    TClientRun& first = Start(h, {}, poller.path());
    QVERIFY(WaitForFile(socketOf(h)));

    TClientRun& second = Start(h, {"/url:velquist://moved"}, startDir.path());
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(mailbox("\\Software\\Test Client"), QString("velquist://moved"));
    QCOMPARE(mailbox(), QString("<missing>"));

    // Started elsewhere without a Settings.ini: the default path again.
    QTemporaryDir plainDir;
    TClientRun& third = Start(h, {"/url:velquist://plain"}, plainDir.path());
    QVERIFY(third.waitFinished());
    QCOMPARE(mailbox(), QString("velquist://plain"));
    first.terminate();
    QVERIFY(first.waitFinished());
}

void TSingleInstanceTest::oldComponentsEndTheProcessWithTheMessage() {
    TWholeProcessHarness h;
    // The box is titled as every other box: with the configured application title.
    WriteTextFile(h.installDir() + "/Settings.ini",
                  "[Settings]\r\nApplicationTitle=Desk Seven\r\n");
    QProcessEnvironment env;
    env.insert("VELQUIST_COMPONENT_VERSIONS", "ZentrikWindow_TLB=4.2");
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun& run = Start(h, {}, h.installDir(), env);
    QVERIFY(run.waitFinished());
    QVERIFY(run.exitCode() != 0);
    const QByteArray err = run.stdErr();
    QVERIFY2(err.contains("velquist prompt: [Desk Seven] ActiveX object"), err.constData());
    QVERIFY2(err.contains("ActiveX object (WindowX) not registered or has invalid version "
                          "number.\r\nExpecting \"4.3\", found \"4.2\".\r\nApplication will be "
                          "terminated. Please reinstall the application."),
             err.constData());

    QProcessEnvironment env2;
    env2.insert("VELQUIST_COMPONENT_VERSIONS", "ZentrikGenericConnector2Proj1_TLB=");
    TClientRun& run2 = Start(h, {}, QString(), env2);
    QVERIFY(run2.waitFinished());
    QVERIFY(run2.exitCode() != 0);
    QVERIFY(run2.stdErr().contains("(GenericConnector2x)"));
    QVERIFY(run2.stdErr().contains("Expecting \"1.4\", found \"\""));
}

void TSingleInstanceTest::terminateSignalClosesTheClient() {
    TWholeProcessHarness h;
    TClientRun& run = Start(h, {});
    QVERIFY(WaitForFile(socketOf(h)));
    // The "terminate" command on the socket ends it like SIGTERM does.
    QVERIFY(TInstanceGuard::SendCommand(TInstanceGuard::LockName(h.installDir()), "terminate"));
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    // The lock is free again: the next launch runs.
    TClientRun& again = Start(h, {});
    QVERIFY(WaitForFile(socketOf(h)));
    QTest::qWait(200);
    QCOMPARE(again.process().state(), QProcess::Running);
    again.terminate();
    QVERIFY(again.waitFinished());
}

void TSingleInstanceTest::runningClientTakesTheLink() {
    TWholeProcessHarness h;
    TClientRun& first = Start(h, {});
    QVERIFY(WaitForFile(socketOf(h)));
    TClientRun& second = Start(h, {"/url:velquist://NewAlertWindow/"});
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitCode(), 0);
    // Within about a second the running client empties the mailbox; the link is taken once.
    QTRY_COMPARE_WITH_TIMEOUT(mailbox(), QString(), 5000);
    first.terminate();
    QVERIFY(first.waitFinished());
    QCOMPARE(first.exitCode(), 0);
}

void TSingleInstanceTest::simultaneousLaunchesShareTheMailbox() {
    TWholeProcessHarness h;
    TPollerFolder poller;
    TClientRun& first = Start(h, {}, poller.path());
    QVERIFY(WaitForFile(socketOf(h)));
    // Eight later launches at once, each writing its link: none may fail or damage the store.
    std::vector<TClientRun*> launches;
    QStringList links;
    for (int i = 0; i < 8; ++i) {
        links << QStringLiteral("velquist://NewAlertWindow/?n=%1").arg(i);
        launches.push_back(&Start(h, {"/url:" + links.last()}));
    }
    for (TClientRun* run : launches) {
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

void TSingleInstanceTest::passwordGoesBeforeAnyStartUpWork() {
    TWholeProcessHarness h;
    // Qt's set-up reads its logging rules (QT_LOGGING_CONF) while the application object is
    // made: as a FIFO they hold the client there, and what its command line shows then is what
    // other users could read all along.
    QTemporaryDir dir;
    const QString fifo = dir.filePath("logging.ini");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcessEnvironment env;
    env.insert("QT_LOGGING_CONF", fifo);
    TClientRun& run =
        Start(h, {"/url:velquist://Login/?UserName=ann&Password=Sup3rSecret"}, QString(), env);
    QVERIFY(run.waitStarted());
    QByteArray seen;
    QVERIFY(FeedFifo(
        fifo, "[Rules]\n", [&] { return QFileInfo::exists(socketOf(h)); },
        [&] { seen = commandLineOf(run.process()); }));
    QVERIFY2(seen.contains("/url:") && !seen.contains("Sup3rSecret"),
             QByteArray(seen).replace(char(0), char(32)).constData());
    // Once it is up, neither the password nor the user name has come back.
    seen = commandLineOf(run.process());
    QVERIFY2(seen.contains("/url:") && !seen.contains("Sup3rSecret") && !seen.contains("UserName"),
             QByteArray(seen).replace(char(0), char(32)).constData());
    run.terminate();
    QVERIFY(run.waitFinished());
}

void TSingleInstanceTest::launcherLinkComesInTheEnvironment() {
    TWholeProcessHarness h;
    TPollerFolder poller;
    TClientRun& first = Start(h, {}, poller.path());
    QVERIFY(WaitForFile(socketOf(h)));
    // The launcher's link counts as the first argument: a later one on the command line wins.
    QProcessEnvironment env;
    env.insert("VELQUIST_LINK_ARGUMENT", "/url:velquist://from-launcher");
    TClientRun& second = Start(h, {}, QString(), env);
    QVERIFY(second.waitFinished());
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(mailbox(), QString("velquist://from-launcher"));
    TClientRun& third = Start(h, {"/url:velquist://argument"}, QString(), env);
    QVERIFY(third.waitFinished());
    QCOMPARE(mailbox(), QString("velquist://argument"));
    first.terminate();
    QVERIFY(first.waitFinished());
}

void TSingleInstanceTest::oneLockWhateverTheRuntimeFolder_data() {
    QTest::addColumn<bool>("firstHasRuntimeDir");
    QTest::addColumn<bool>("secondHasRuntimeDir");
    QTest::addColumn<bool>("plantedFolderVanishes");
    QTest::newRow("first with XDG_RUNTIME_DIR, second without") << true << false << false;
    QTest::newRow("first without XDG_RUNTIME_DIR, second with") << false << true << false;
    QTest::newRow("a planted runtime folder vanishes in between") << true << true << true;
}

void TSingleInstanceTest::oneLockWhateverTheRuntimeFolder() {
    QFETCH(bool, firstHasRuntimeDir);
    QFETCH(bool, secondHasRuntimeDir);
    QFETCH(bool, plantedFolderVanishes);
    TWholeProcessHarness h;
    const QString planted = h.home().runtimeDir() + "/velquist";
    if (plantedFolderVanishes) {
        // Another user's folder in the runtime folder's place, removed after the first start.
        QVERIFY(QDir().mkdir(h.home().path() + "/theirs"));
        QVERIFY(QFile::link(h.home().path() + "/theirs", planted));
    }
    const QStringList noRuntime{"XDG_RUNTIME_DIR"};
    TClientRun& first = Start(h, {}, QString(), {}, firstHasRuntimeDir ? QStringList() : noRuntime);
    QVERIFY2(WaitForFile(socketOf(h)), first.stdErr().constData());
    if (plantedFolderVanishes)
        QVERIFY(QFile::remove(planted));

    TClientRun& second = Start(h, {"/url:velquist://NewAlertWindow/"}, QString(), {},
                               secondHasRuntimeDir ? QStringList() : noRuntime);
    // A second client would run on instead of ending.
    QVERIFY2(second.waitFinished(8000), "the second launch runs as a client of its own");
    QCOMPARE(second.exitCode(), 0);
    // The first client took the link from the mailbox: it was the one told.
    QTRY_COMPARE_WITH_TIMEOUT(mailbox(), QString(), 5000);
    QCOMPARE(first.process().state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitFinished());
    QCOMPARE(first.exitCode(), 0);
}

void TSingleInstanceTest::ownerlessLockDoesNotBlock() {
    TWholeProcessHarness h;
    // Left by a crash at the wrong moment, or put there by someone else: no owner in it.
    const QString lock = TInstanceGuard::LockPath(TInstanceGuard::LockName(h.installDir()));
    WriteTextFile(lock, "x");
    TClientRun& run = Start(h, {});
    QVERIFY2(WaitForFile(socketOf(h)), run.stdErr().constData());
    QVERIFY(run.waitForStdErr("removed the lock file"));
    QCOMPARE(run.process().state(), QProcess::Running);
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

void TSingleInstanceTest::unreachableHolderIsReported() {
    TWholeProcessHarness h;
    // A live process holds the lock (this test) but answers on no socket.
    QLockFile held(TInstanceGuard::LockPath(TInstanceGuard::LockName(h.installDir())));
    QVERIFY(held.tryLock(0));
    QProcessEnvironment env;
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun& run = Start(h, {"/url:velquist://lost"}, QString(), env);
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY(run.exitCode() != 0);
    const QByteArray err = run.stdErr();
    QVERIFY2(err.contains("velquist: Velquist cannot start") &&
                 err.contains("could not be reached") && err.contains("velquist prompt:") &&
                 err.contains(QByteArray::number(QCoreApplication::applicationPid())),
             err.constData());
}

// A folder (or a link) where the lock file goes is no client's lock: the start ends saying
// what is there, not that another Velquist holds it, and leaves it as it was.
void TSingleInstanceTest::somethingElseInTheLocksPlaceIsNamed() {
    TWholeProcessHarness h;
    const QString lock = TInstanceGuard::LockPath(TInstanceGuard::LockName(h.installDir()));
    QVERIFY(QDir().mkpath(QFileInfo(lock).path()));
    const QString target = h.home().path() + "/elsewhere";
    for (const QByteArray& what : {QByteArray("a folder"), QByteArray("a symbolic link")}) {
        if (what == "a folder") {
            QVERIFY(QDir().mkdir(lock));
            WriteTextFile(lock + "/kept", "someone's");
        } else {
            QVERIFY(QDir(lock).removeRecursively());
            QVERIFY(QFile::link(target, lock));
        }
        QProcessEnvironment env;
        env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
        TClientRun& run = Start(h, {}, QString(), env);
        QVERIFY(run.waitFinished());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY(run.exitCode() != 0);
        const QByteArray err = run.stdErr();
        QVERIFY2(err.contains("velquist: Velquist cannot start: in the place of its "
                              "single-instance lock, " +
                              QFile::encodeName(lock) + ", there is " + what +
                              ", not a lock file; no other Velquist holds it") &&
                     err.contains("velquist prompt:") && !err.contains("holds the lock") &&
                     !err.contains("no safe folder"),
                 err.constData());
        QVERIFY(!QFileInfo::exists(target)); // a link is not followed
        if (what == "a folder")
            QCOMPARE(ReadWholeFile(lock + "/kept"), QByteArray("someone's"));
    }
    QCOMPARE(QFileInfo(lock).symLinkTarget(), target);
}

void TSingleInstanceTest::blockedSettingsFolderKeepsLinksAndSaysSo() {
    TWholeProcessHarness h;
    QVERIFY(QDir().mkdir(h.installDir() + "/SavedWindows"));
    WriteTextFile(h.home().configHome() + "/velquist", "a file where the settings folder belongs");
    QProcessEnvironment env;
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun& first = Start(h, {}, QString(), env);
    QVERIFY2(first.waitForStdErr("every setting changed now is lost"), first.stdErr().constData());
    QVERIFY(first.stdErr().contains("velquist prompt:"));
    QVERIFY(WaitForFile(socketOf(h)));

    // The second launch's store is its own memory: the link must travel on the socket.
    TClientRun& second =
        Start(h, {"/url:velquist://NewAlertWindow/?WindowConfig=handed"}, QString(), env);
    QVERIFY2(second.waitFinished(8000), "the second launch runs as a client of its own");
    QCOMPARE(second.exitCode(), 0);
    // The running client opens the window within its URL handler's tick; its layout then
    // holds it.
    QTest::qWait(2500);
    first.terminate();
    QVERIFY(first.waitFinished());
    const QByteArray layout = ReadWholeFile(h.installDir() + "/SavedWindows/DEFAULT_LAYOUT.zkl");
    QVERIFY2(layout.contains("WindowConfig=handed"), layout.constData());
}

void TSingleInstanceTest::blockedSettingsFolderOneClientWhateverTheRuntimeFolder_data() {
    QTest::addColumn<QString>("firstRuntime"); // "": no XDG_RUNTIME_DIR at all
    QTest::addColumn<QString>("secondRuntime");
    QTest::newRow("first with XDG_RUNTIME_DIR, second without") << "run"
                                                                << "";
    QTest::newRow("first without XDG_RUNTIME_DIR, second with") << ""
                                                                << "run";
    QTest::newRow("a different XDG_RUNTIME_DIR each") << "run"
                                                      << "other-run";
}

void TSingleInstanceTest::blockedSettingsFolderOneClientWhateverTheRuntimeFolder() {
    QFETCH(QString, firstRuntime);
    QFETCH(QString, secondRuntime);
    TWholeProcessHarness h;
    WriteTextFile(h.home().configHome() + "/velquist", "a file where the settings folder belongs");
    QVERIFY(QDir().mkpath(h.home().path() + "/other-run"));
    const auto start = [&](const QString& runtime, const QStringList& arguments) {
        QProcessEnvironment env;
        env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
        if (!runtime.isEmpty())
            env.insert("XDG_RUNTIME_DIR", h.home().path() + "/" + runtime);
        return &Start(h, arguments, QString(), env,
                      runtime.isEmpty() ? QStringList{"XDG_RUNTIME_DIR"} : QStringList());
    };
    TClientRun* first = start(firstRuntime, {});
    // Told once the main window is up, after the socket listens.
    QVERIFY2(first->waitForStdErr("every setting changed now is lost"),
             first->stdErr().constData());

    TClientRun* second = start(secondRuntime, {"/url:velquist://NewAlertWindow/"});
    QVERIFY2(second->waitFinished(8000), "the second launch runs as a client of its own");
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(!second->stdErr().contains("cannot start"), second->stdErr().constData());
    QCOMPARE(first->process().state(), QProcess::Running);
    first->terminate();
    QVERIFY(first->waitFinished());
    QCOMPARE(first->exitCode(), 0);
}

void TSingleInstanceTest::holderThatNamesNoProcessIsNotCalledProcessZero() {
    TWholeProcessHarness h;
    // A lock file that is being written all the time and never names its owner: not one to
    // remove, and no process to name either.
    const QString lock = TInstanceGuard::LockPath(TInstanceGuard::LockName(h.installDir()));
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            WriteTextFile(lock, QByteArray(1 + i % 7, 'x'));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    QProcessEnvironment env;
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun& run = Start(h, {}, QString(), env);
    const bool finished = run.waitFinished();
    stop = true;
    writer.join();
    QVERIFY(finished);
    const QByteArray err = run.stdErr();
    QVERIFY2(run.exitCode() != 0 && err.contains("could not be reached"), err.constData());
    QVERIFY2(!err.contains("process 0") && !err.contains("(process"), err.constData());
}

void TSingleInstanceTest::terminateEndsALongStartUpStep() {
    TWholeProcessHarness h;
    // The splash bitmap is read before the windows are made: as a FIFO nobody writes (a file
    // on a hung share), it holds start-up there as long as it likes, the event loop not running.
    QCOMPARE(::mkfifo(QFile::encodeName(h.installDir() + "/splash.bmp").constData(), 0600), 0);
    QTemporaryDir startDir;
    TClientRun& run = Start(h, {}, startDir.path());
    QVERIFY(WaitForFile(socketOf(h)));
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    run.terminate();
    QVERIFY2(run.waitFinished(10000), "a terminate during start-up was not obeyed");
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    QVERIFY2(run.stdErr().contains("terminated during start-up"), run.stdErr().constData());
}

void TSingleInstanceTest::killedSavesLeftoversGoAtStart() {
    TWholeProcessHarness h;
    // Up to megabytes each, left by saves that were killed.
    const QStringList stale = {h.installDir() + "/SavedWindows/DEFAULT_LAYOUT.zkl.tmp-a1B2c3",
                               h.installDir() + "/Local.ini.tmp-Zz9Zz9",
                               h.home().dataHome() + "/velquist/service/demo.json.tmp-Q1w2E3"};
    const QString fresh = h.installDir() + "/SavedWindows/Mine.zkl.tmp-f1f1f1"; // may be a save now
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    for (const QString& file : stale) {
        WriteTextFile(file, QByteArray(4096, 'x'));
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), old, 0), 0);
    }
    WriteTextFile(fresh, "x");
    TClientRun& run = Start(h, {});
    QVERIFY(WaitForFile(socketOf(h)));
    QTRY_VERIFY(!QFileInfo::exists(stale.last()));
    for (const QString& file : stale)
        QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
    QVERIFY(QFileInfo::exists(fresh));
    run.terminate();
    QVERIFY(run.waitFinished());
}

void TSingleInstanceTest::noSafeRuntimeFolderEndsWithTheReason() {
    TWholeProcessHarness h;
    // Both the runtime folder and its stand-in are links to a folder anyone may enter.
    const QString open = h.home().path() + "/open";
    QVERIFY(QDir().mkdir(open));
    QVERIFY(QFile::link(open, h.home().tmpDir() + "/velquist-" + QString::number(::getuid())));
    QVERIFY(QDir().mkpath(h.home().configHome() + "/velquist"));
    QVERIFY(QFile::link(open, h.home().configHome() + "/velquist/run"));
    QProcessEnvironment env;
    env.insert("VELQUIST_SCRIPTED_PROMPTS", "ok");
    TClientRun& run = Start(h, {}, QString(), env);
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
    TWholeProcessHarness h;
    QProcessEnvironment env;
    QStringList unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
    if (!display.isEmpty()) {
        env.insert("DISPLAY", display);
        unset.removeAll("DISPLAY");
    }
    TClientRun& run = Start(h, {}, QString(), env, unset);
    QVERIFY(run.waitFinished());
    const QByteArray err = run.stdErr();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 1, err.constData());
    QVERIFY2(
        err.startsWith("Velquist needs a graphical desktop (X11 or Wayland): no display found\n"),
        err.constData());
    QVERIFY2(!err.contains("plugin"), err.constData());
    // Nothing was started that a later launch would meet.
    QVERIFY(!QFileInfo::exists(socketOf(h)));
}

QTEST_MAIN(TSingleInstanceTest)
#include "tst_single_instance.moc"
