#include "platform/zkInstance.h"
#include "platform/zkPaths.h"
#include "zkTestSupport.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

class TInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void lockNames();
    void longFoldersUseAShortSocketPath();
    void oneHolderPerFolder();
    void commandsReachTheHolder();
    void staleSocketIsReplaced();
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
    const QFile::Permissions groupOrOther = QFile::ReadGroup | QFile::WriteGroup |
                                            QFile::ExeGroup | QFile::ReadOther |
                                            QFile::WriteOther | QFile::ExeOther;
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
    const QFile::Permissions perms = QFileInfo(TInstanceGuard::SocketPath(guard.lockName()))
                                         .permissions();
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

QTEST_MAIN(TInstanceTest)
#include "tst_instance.moc"
