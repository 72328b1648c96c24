// The whole-process harness itself: a test that asks for every part, starts the client among
// them and then fails a check midway leaves nothing running behind it. The failing test runs in
// a child of this one (this very program, told to), and afterwards no process may still carry
// that test's private home in its environment, which everything the harness starts does.
#include "zkHarness.h"

#include <QDir>
#include <QtTest>

#include <cstdio>

namespace {

const QString Token = QStringLiteral("feedfacefeedfacefeedfacefeedfacefeedface");
const char* FailMidway = "VELQUIST_HARNESS_FAIL_MIDWAY";

// The processes whose environment holds text (those this user may read).
QStringList ProcessesWith(const QByteArray& text) {
    QStringList found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        if (entry.toLongLong(&number) == QCoreApplication::applicationPid() || !number)
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (!environ.open(QIODevice::ReadOnly) || !environ.readAll().contains(text))
            continue;
        QFile name(QStringLiteral("/proc/%1/comm").arg(entry));
        found << entry + u' ' +
                     QString::fromLocal8Bit(name.open(QIODevice::ReadOnly) ? name.readAll() : "")
                         .trimmed();
    }
    return found;
}

} // namespace

class THarnessE2ETest : public QObject {
    Q_OBJECT
private slots:
    void nothingOutlivesAFailedCheck();
    void failsMidway();
};

void THarnessE2ETest::nothingOutlivesAFailedCheck() {
    if (qEnvironmentVariableIsSet(FailMidway))
        QSKIP("the child's run");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(FailMidway), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("failsMidway")});
    QVERIFY(child.waitForFinished(240000));
    const QByteArray out = child.readAllStandardOutput();
    if (out.contains("SKIP   : "))
        QSKIP(out.constData());
    // It got as far as the client among all the parts, and failed there as it was told to.
    const qsizetype at = out.indexOf("harness home: ");
    QVERIFY2(at >= 0, out.constData());
    QVERIFY2(out.contains("FAIL!  : THarnessE2ETest::failsMidway() 'false' returned FALSE. "
                          "(failing on purpose)"),
             out.constData());
    QCOMPARE(child.exitCode(), 1);
    const QByteArray home = out.mid(at + 14, out.indexOf('\n', at) - at - 14);
    QVERIFY(home.startsWith('/'));
    // A part that was ending as the child did is given a moment; none may stay.
    QTRY_VERIFY2_WITH_TIMEOUT(ProcessesWith(home).isEmpty(),
                              qPrintable(ProcessesWith(home).join(u'\n')), 5000);
    QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(home)));
}

void THarnessE2ETest::failsMidway() {
    if (!qEnvironmentVariableIsSet(FailMidway))
        QSKIP("run by nothingOutlivesAFailedCheck");
    TWholeProcessHarness h;
    HARNESS_NEED(h.needScreenReader()); // the desktop and the session bus with it
    HARNESS_NEED(h.needWeston());
    HARNESS_NEED(h.needDunst());
    HARNESS_NEED(h.needKeyring());
    HARNESS_NEED(h.needAudio());
    HARNESS_NEED(h.needBroker());
    StoreDeskChoices(QString(), false);
    const quint16 port = h.needInbox(Token);
    // Off the desktops: a client on one would end with its server, whoever else forgot it.
    QProcessEnvironment offscreen;
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    TClientRun& client = h.startClient(
        {}, offscreen, {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY")});
    QVERIFY2(WaitListening(port, client), client.stdErr().constData());
    QCOMPARE(h.postAlert(R"({"symbol": "IBM"})").Status, 202);
    std::printf("harness home: %s\n", qPrintable(h.home().path()));
    std::fflush(stdout);
    QVERIFY2(false, "failing on purpose");
}

QTEST_MAIN(THarnessE2ETest)
#include "tst_harness_e2e.moc"
