#include "platform/zkInstance.h"
#include "platform/zkPaths.h"
#include "zkTestSupport.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void lockNames();
    void longFoldersUseAShortSocketPath();
    void oneHolderPerFolder();
    void commandsReachTheHolder();
    void staleSocketIsReplaced();
    void ownerlessLockIsTakenOver_data();
    void ownerlessLockIsTakenOver();
    void liveHolderIsNeverTakenOver();
    void lockReadsAsLiveToQLockFile();
    void linkCommandsCarryAnyLink();
};

void TInstanceTest::lockNames() {
    QCOMPARE(TInstanceGuard::LockName("/opt/Velquist Client"), QString("_opt_Velquist Client"));
    QCOMPARE(TInstanceGuard::LockName("/"), QString("_"));
}

void TInstanceTest::longFoldersUseAShortSocketPath() {
    TTestHome home;
    const QString longName = TInstanceGuard::LockName("/" + QString(200, 'x'));
    const QString path = TInstanceGuard::SocketPath(longName);
    QVERIFY(path.toLocal8Bit().size() <= 107);
    QVERIFY(path.startsWith(zkPaths::RuntimeDir()));
    // Different folders must not share a socket.
    QVERIFY(path != TInstanceGuard::SocketPath(longName + "y"));
    QCOMPARE(TInstanceGuard::SocketPath("_a"), zkPaths::RuntimeDir() + "/_a.sock");
}

void TInstanceTest::oneHolderPerFolder() {
    TTestHome home;
    TInstanceGuard first("/srv/one");
    QVERIFY(first.TryAcquire());
    TInstanceGuard second("/srv/one");
    QVERIFY(!second.TryAcquire());
    TInstanceGuard other("/srv/two");
    QVERIFY(other.TryAcquire());
    const QFileInfo runtime(zkPaths::RuntimeDir());
    const QFile::Permissions groupOrOther = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(runtime.permissions() & groupOrOther, QFile::Permissions());
    QVERIFY(runtime.permissions() & QFile::WriteUser);
}

void TInstanceTest::commandsReachTheHolder() {
    TTestHome home;
    TInstanceGuard guard("/srv/cmd");
    QVERIFY(guard.TryAcquire());
    QVERIFY(guard.Listen());
    QSignalSpy activate(&guard, &TInstanceGuard::ActivationRequested);
    QSignalSpy terminate(&guard, &TInstanceGuard::TerminateRequested);
    QVERIFY(TInstanceGuard::SendCommand(guard.lockName(), "activate"));
    QTRY_COMPARE(activate.count(), 1);
    QVERIFY(TInstanceGuard::SendCommand(guard.lockName(), "terminate"));
    QTRY_COMPARE(terminate.count(), 1);
    QVERIFY(TInstanceGuard::SendCommand(guard.lockName(), "nonsense"));
    QTest::qWait(100);
    QCOMPARE(activate.count(), 1);
    QCOMPARE(terminate.count(), 1);
    // Only the user may connect.
    const QFile::Permissions perms =
        QFileInfo(TInstanceGuard::SocketPath(guard.lockName())).permissions();
    QVERIFY(!(perms & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup)));
    // Nobody listening: the sender gives up rather than hang.
    QVERIFY(!TInstanceGuard::SendCommand("_nobody_here", "activate"));
}

void TInstanceTest::staleSocketIsReplaced() {
    TTestHome home;
    zkPaths::EnsurePrivateDir(zkPaths::RuntimeDir());
    const QString path = TInstanceGuard::SocketPath(TInstanceGuard::LockName("/srv/stale"));
    WriteTextFile(path, "left behind by a crash");
    TInstanceGuard guard("/srv/stale");
    QVERIFY(guard.TryAcquire());
    QVERIFY(guard.Listen());
    QSignalSpy activate(&guard, &TInstanceGuard::ActivationRequested);
    QVERIFY(TInstanceGuard::SendCommand(guard.lockName(), "activate"));
    QTRY_COMPARE(activate.count(), 1);
}

void TInstanceTest::ownerlessLockIsTakenOver_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::newRow("empty") << QByteArray() << 0644 << false;
    QTest::newRow("junk") << QByteArray("x") << 0644 << false;
    QTest::newRow("no process id") << QByteArray("\nvelquist\nhost\n") << 0644 << false;
    QTest::newRow("another account's, read-only") << QByteArray("x") << 0444 << true;
    QTest::newRow("unreadable") << QByteArray("1\nvelquist\n") << 0000 << true;
}

void TInstanceTest::ownerlessLockIsTakenOver() {
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    TTestHome home;
    TInstanceGuard guard("/srv/junk");
    const QByteArray lock = QFile::encodeName(TInstanceGuard::LockPath(guard.lockName()));
    WriteTextFile(QString::fromLocal8Bit(lock), content);
    QCOMPARE(::chmod(lock.constData(), mode_t(mode)), 0);
    if (otherOwner && ::geteuid() == 0)
        QCOMPARE(::chown(lock.constData(), 4242, 4242), 0);
    QVERIFY2(guard.TryAcquire(), qPrintable(guard.Problem()));
    QVERIFY(guard.Problem().isEmpty());
    // Ours now: a second guard finds a live holder.
    TInstanceGuard second("/srv/junk");
    QVERIFY(!second.TryAcquire());
    QCOMPARE(second.HolderPid(), QCoreApplication::applicationPid());
}

void TInstanceTest::liveHolderIsNeverTakenOver() {
    TTestHome home;
    // A lock taken long ago by a process that still runs (this one) stays its own.
    QLockFile held(TInstanceGuard::LockPath("_srv_live"));
    QVERIFY(held.tryLock(0));
    const QByteArray path = QFile::encodeName(TInstanceGuard::LockPath("_srv_live"));
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, path.constData(), old, 0), 0);
    TInstanceGuard guard("/srv/live");
    QVERIFY(!guard.TryAcquire());
    QVERIFY(guard.Problem().isEmpty());
    QCOMPARE(guard.HolderPid(), QCoreApplication::applicationPid());
    QVERIFY(QFileInfo::exists(QString::fromLocal8Bit(path)));
}

void TInstanceTest::lockReadsAsLiveToQLockFile() {
    TTestHome home;
    const QString path = TInstanceGuard::LockPath("_srv_qt");
    {
        TInstanceGuard guard("/srv/qt");
        QVERIFY(guard.TryAcquire());
        // Launches of any version look at it with QLockFile: a live holder, named as it names
        // one, never a stale lock to take over or remove.
        QLockFile other(path);
        other.setStaleLockTime(0);
        QVERIFY(!other.tryLock(0));
        QCOMPARE(other.error(), QLockFile::LockFailedError);
        QVERIFY(!other.removeStaleLockFile());
        qint64 pid = 0;
        QString host, app;
        QVERIFY(other.getLockInfo(&pid, &host, &app));
        QCOMPARE(pid, QCoreApplication::applicationPid());
        QCOMPARE(host, QSysInfo::machineHostName());
        QCOMPARE(app, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    }
    // Gone with its guard.
    QVERIFY(!QFileInfo::exists(path));
    QLockFile after(path);
    QVERIFY(after.tryLock(0));
}

void TInstanceTest::linkCommandsCarryAnyLink() {
    const QString link = QStringLiteral("velquist://Login/?UserName=ä n&Password=a b\\c|d");
    const auto parsed = TInstanceGuard::ParseCommand(TInstanceGuard::LinkCommand(link));
    QVERIFY(parsed && parsed->Kind == TInstanceGuard::TCommand::Link);
    QCOMPARE(parsed->LinkText, link);
    QVERIFY(TInstanceGuard::ParseCommand("activate")->Kind == TInstanceGuard::TCommand::Activate);
    for (const QByteArray& bad :
         {QByteArray("link"), QByteArray("link !!!"), QByteArray("Activate"), QByteArray(""),
          "link " + QByteArray("a\nb").toBase64(), "link " + QByteArray("a\x1b[2J").toBase64()})
        QVERIFY2(!TInstanceGuard::ParseCommand(bad), bad.constData());

    // Over the socket: a line too long for any command cuts its sender off and is not taken
    // in pieces; the next sender's link arrives whole.
    TTestHome home;
    TInstanceGuard guard("/srv/links");
    QVERIFY(guard.TryAcquire());
    QVERIFY(guard.Listen());
    QSignalSpy links(&guard, &TInstanceGuard::LinkReceived);
    TInstanceGuard::SendCommand(
        guard.lockName(),
        TInstanceGuard::LinkCommand(QString(TInstanceGuard::MaxCommandBytes, QLatin1Char('a'))));
    QVERIFY(TInstanceGuard::SendCommand(guard.lockName(), TInstanceGuard::LinkCommand(link)));
    QTRY_COMPARE(links.count(), 1);
    QTest::qWait(100);
    QCOMPARE(links.count(), 1);
    QCOMPARE(links.first().first().toString(), link);
}

QTEST_MAIN(TInstanceTest)
#include "tst_instance.moc"
