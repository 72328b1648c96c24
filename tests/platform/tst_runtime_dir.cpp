// The lock folder (and the runtime folder of the sockets) beside the store, with
// /tmp/velquist-$UID as the stand-in: a folder another user can reach must never be used. Ownership
// by "another user" is faked through the uid seam, or made real with chown when the test runs as
// root.
#include "platform/zkInstance.h"
#include "platform/zkPaths.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& path) {
    struct stat st = {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

struct TFakeUid {
    explicit TFakeUid(uid_t uid) { zkPaths::SetUserUidForTesting(uid); }
    ~TFakeUid() { zkPaths::SetUserUidForTesting(std::nullopt); }
};

} // namespace

class TRuntimeDirTest : public QObject {
    Q_OBJECT

    QString preferred(const TTestHome& home) const { return home.configHome() + "/velquist/run"; }
    QString fallback(const TTestHome& home) const {
        return home.tmpDir() + "/velquist-" + QString::number(::getuid());
    }

private slots:
    void missingFolderIsCreatedPrivate() {
        TTestHome home;
        QCOMPARE(zkPaths::RuntimeDir(), preferred(home));
        QVERIFY(QFileInfo(preferred(home)).isDir());
        QCOMPARE(modeOf(preferred(home)), mode_t(0700));
    }

    void openFolderOfOursIsMadePrivate() {
        TTestHome home;
        QVERIFY(QDir().mkpath(preferred(home)));
        ::chmod(QFile::encodeName(preferred(home)).constData(), 0777);
        QCOMPARE(zkPaths::RuntimeDir(), preferred(home));
        QCOMPARE(modeOf(preferred(home)), mode_t(0700));
    }

    void symlinkIsRefused() {
        TTestHome home;
        // The other user's folder, wide open, with a planted lock of this installation.
        const QString theirs = home.path() + "/theirs";
        QVERIFY(QDir().mkdir(theirs));
        ::chmod(QFile::encodeName(theirs).constData(), 0777);
        QVERIFY(QDir().mkpath(home.configHome() + "/velquist"));
        QVERIFY(QFile::link(theirs, preferred(home)));
        const QString lockName = TInstanceGuard::LockName("/srv/planted");
        WriteTextFile(theirs + "/" + lockName + ".lock", "1\nvelquist\nhost\n");
        ::chmod(QFile::encodeName(theirs).constData(), 0777);

        QCOMPARE(zkPaths::RuntimeDir(), fallback(home));
        QCOMPARE(modeOf(fallback(home)), mode_t(0700));
        QCOMPARE(modeOf(theirs), mode_t(0777)); // not ours to change
        TInstanceGuard guard("/srv/planted");
        QVERIFY(guard.TryAcquire());
        QVERIFY(guard.Listen());
        QVERIFY(TInstanceGuard::SocketPath(lockName).startsWith(fallback(home) + "/"));
        QVERIFY(QDir(theirs).entryList(QDir::System | QDir::Files).size() == 1);
    }

    void fileInItsPlaceIsRefused() {
        TTestHome home;
        WriteTextFile(preferred(home), "not a folder");
        QCOMPARE(zkPaths::RuntimeDir(), fallback(home));
    }

    void folderOfAnotherUserIsRefused() {
        TTestHome home;
        QVERIFY(QDir().mkpath(preferred(home)));
        if (::geteuid() == 0) {
            // Really another owner: the fallback, which is ours, is taken.
            QCOMPARE(::chown(QFile::encodeName(preferred(home)).constData(), 4242, 4242), 0);
            QCOMPARE(zkPaths::RuntimeDir(), fallback(home));
        }
        // Every folder belongs to someone else when we pretend to be another uid: there is no
        // safe folder, and the lock is refused with the reason rather than run without it.
        TFakeUid fake(::geteuid() + 1000);
        QCOMPARE(zkPaths::RuntimeDir(), QString());
        QVERIFY(zkPaths::RuntimeDirProblem().contains("belongs to another user"));
        TInstanceGuard guard("/srv/anywhere");
        QVERIFY(!guard.TryAcquire());
        QVERIFY(guard.Problem().contains("belongs to another user"));
        QVERIFY(TInstanceGuard::SocketPath(guard.lockName()).isEmpty());
    }

    void tooLongForASocketUsesTheFallback() {
        TTestHome home;
        const QString deep = home.configHome() + "/" + QString(90, 'd');
        QVERIFY(QDir().mkpath(deep));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(deep));
        QCOMPARE(zkPaths::RuntimeDir(), fallback(home));
        QVERIFY(QFile::encodeName(TInstanceGuard::SocketPath("_" + QString(200, 'x'))).size() <=
                107);
        // The lock needs no socket address: it stays beside the store.
        QCOMPARE(zkPaths::LockDir(), deep + "/velquist/run");
    }

    // The lock's place does not follow XDG_RUNTIME_DIR nor folders that come and go in it.
    void lockFolderIsTheSameWhateverTheRuntimeFolder() {
        TTestHome home;
        const QString lock = TInstanceGuard::LockPath("_opt_v");
        QCOMPARE(lock, preferred(home) + "/_opt_v.lock");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(TInstanceGuard::LockPath("_opt_v"), lock);
        QCOMPARE(TInstanceGuard::SocketPath("_opt_v"), preferred(home) + "/_opt_v.sock");
        qputenv("XDG_RUNTIME_DIR", runtime);
        QVERIFY(QFile::link(home.path(), fallback(home))); // appears, refused
        QCOMPARE(TInstanceGuard::LockPath("_opt_v"), lock);
        QVERIFY(QFile::remove(fallback(home))); // and vanishes
        QCOMPARE(TInstanceGuard::LockPath("_opt_v"), lock);
    }

    // Nor does the stand-in's: launches from a desktop and from a terminal meet at one lock.
    void standInIsTheSameWhateverTheRuntimeFolder() {
        TTestHome home;
        WriteTextFile(home.configHome() + "/velquist", "a file where the folder belongs");
        const QString lock = TInstanceGuard::LockPath("_opt_v");
        const QString socket = TInstanceGuard::SocketPath("_opt_v");
        QCOMPARE(lock, fallback(home) + "/_opt_v.lock");
        QCOMPARE(socket, fallback(home) + "/_opt_v.sock");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        QVERIFY(QDir().mkpath(home.path() + "/other-run"));
        for (const QByteArray& value : {QByteArray(), QByteArray("relative"),
                                        QFile::encodeName(home.path() + "/other-run")}) {
            if (value.isNull())
                qunsetenv("XDG_RUNTIME_DIR");
            else
                qputenv("XDG_RUNTIME_DIR", value);
            QCOMPARE(TInstanceGuard::LockPath("_opt_v"), lock);
            QCOMPARE(TInstanceGuard::SocketPath("_opt_v"), socket);
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
        QVERIFY(!QFileInfo::exists(home.runtimeDir() + "/velquist"));
    }
};

QTEST_MAIN(TRuntimeDirTest)
#include "tst_runtime_dir.moc"
