// An idle client on a real X server: the market strip's clock repaints every second, and each
// repaint must reach the screen without a round trip to the server. Qt's shared-memory images
// make it wait for one before it paints pixels the server may still be reading, which woke the
// idle process twice more each second; the client paints with plain requests instead.
#include "zkHarness.h"

#include <QFile>
#include <QtTest>

namespace {

const QString MainCaption = QStringLiteral("Velquist");

// The lines of the process's memory map that are images shared with the X server (Xorg and
// Xvfb hand out "memfd:xorg" segments; older servers System V ones).
QStringList SharedImageMappings(qint64 pid) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read %1").arg(maps.fileName())};
    QStringList found;
    for (const QByteArray& line : maps.readAll().split('\n'))
        if (line.contains("memfd:xorg") || line.contains("SYSV"))
            found << QString::fromLatin1(line);
    return found;
}

} // namespace

class TIdleE2ETest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
            QSKIP("ImageMagick's import is not installed (scripts/install-deps.sh installs it)");
    }

    // The clock on the screen moves on while the client holds no image shared with the server;
    // a user who asks for shared images (a distant X server) gets them, which also shows the
    // look at the memory map can find one.
    void clockReachesTheScreenWithoutSharedImages_data() {
        QTest::addColumn<bool>("askShared");
        QTest::newRow("plain requests") << false;
        QTest::newRow("shared images asked for") << true;
    }
    void clockReachesTheScreenWithoutSharedImages() {
        QFETCH(bool, askShared);
        TWholeProcessHarness h;
        HARNESS_NEED(h.needDesktop());
        StoreDeskChoices(QString(), false);
        WriteTextFile(h.installDir() + QStringLiteral("/Settings.ini"),
                      "[ActiveX]\nSimAlertInterval=0\n");
        QProcessEnvironment extra;
        if (askShared)
            extra.insert(QStringLiteral("VELQUIST_X_SHARED_IMAGES"), QStringLiteral("1"));
        TClientRun& client = h.startClient({}, extra, {QStringLiteral("QT_XCB_NO_MITSHM")});
        QVERIFY(client.waitStarted());
        QVERIFY2(h.waitShown({MainCaption}, client), client.stdErr().constData());
        const QRect main = h.desktop().ClientRect(MainCaption);
        QVERIFY(!main.isEmpty());

        // Nothing else on the idle main window changes: two looks more than a second apart
        // differ only where the clock's seconds are drawn.
        const QImage before = h.screenshot(QStringLiteral("idle-before.png")).copy(main);
        QThread::msleep(1500);
        const QImage after = h.screenshot(QStringLiteral("idle-after.png")).copy(main);
        QVERIFY(!before.isNull() && !after.isNull());
        QVERIFY2(before != after, "the clock did not move on the screen");

        const QStringList shared = SharedImageMappings(client.process().processId());
        if (askShared)
            QVERIFY2(!shared.isEmpty(), "no image shared with the X server was found");
        else
            QVERIFY2(shared.isEmpty(), qPrintable(shared.join(u'\n')));
        client.terminate();
        QVERIFY(client.waitFinished());
    }
};

QTEST_MAIN(TIdleE2ETest)
#include "tst_idle_e2e.moc"
