#include "linking/zkLinkBroker.h"
#include "platform/zkPaths.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

QString toolPath() {
    return QStringLiteral(VELQUIST_BIN_DIR "/velquist-link");
}

// velquist-link with the test's runtime folder.
std::unique_ptr<QProcess> startTool(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process->start(toolPath(), arguments);
    return process;
}

} // namespace

class TLinkToolTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    QString socketPath(const QString& name) const {
        return zkPaths::RuntimeDir() + QLatin1Char('/') + name + QStringLiteral(".links");
    }

private slots:
    void initTestCase() {
        if (!QFileInfo(toolPath()).isExecutable())
            QSKIP("velquist-link is not built (build the velquist-link target)");
    }
    void init() { Home = std::make_unique<TTestHome>(); }
    void cleanup() { Home.reset(); }

    void printsEachSymbolOfItsLists();
    void execRunsTheCommandWithoutAShell();
    void lostLinkIsAnError();
    void controlCharactersNeverReachTheTerminal();
    void invisibleCharactersAreShownEscaped();
    void findsTheOneRunningClient();
    void refusesASocketOfAnotherUser();
};

void TLinkToolTest::printsEachSymbolOfItsLists() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(socketPath("a")));
    auto tool = startTool({"--socket", socketPath("a"), "Gap ups", "MAIN LIST"});
    QVERIFY(tool->waitForStarted());
    QTRY_COMPARE(broker.LinkCount("Gap ups"), 1);
    QTRY_COMPARE(broker.LinkCount("MAIN LIST"), 1);
    broker.Send("Gap ups", "AAPL");
    broker.Send("Other", "NOPE");
    broker.Send("MAIN LIST", "MSFT");
    // Each line arrives on its own, not when the tool ends.
    QByteArray out;
    QTRY_VERIFY((out += tool->readAllStandardOutput()) == "AAPL\nMSFT\n");

    // The client closing ends the tool normally, after the symbols sent just before.
    broker.Send("MAIN LIST", "LAST");
    broker.Close();
    QVERIFY(tool->waitForFinished(5000));
    QCOMPARE(tool->readAllStandardOutput(), QByteArray("LAST\n"));
    QCOMPARE(tool->exitCode(), 0);
    QVERIFY(tool->readAllStandardError().contains("the client has ended"));
}

void TLinkToolTest::lostLinkIsAnError() {
    // A client that dies says no goodbye: the connection just ends.
    QLocalServer server;
    QVERIFY(QDir().mkpath(QFileInfo(socketPath("a")).path()));
    QVERIFY(server.listen(socketPath("a")));
    auto tool = startTool({"--socket", socketPath("a"), "L"});
    QVERIFY(server.waitForNewConnection(5000));
    QLocalSocket* peer = server.nextPendingConnection();
    QVERIFY(peer);
    while (!peer->canReadLine())
        QVERIFY(peer->waitForReadyRead(5000)); // linked
    peer->write("SYMBOL IBM\n");
    peer->flush();
    delete peer;
    server.close();
    QVERIFY(tool->waitForFinished(5000));
    QCOMPARE(tool->readAllStandardOutput(), QByteArray("IBM\n"));
    QCOMPARE(tool->exitCode(), 1);
    QVERIFY(tool->readAllStandardError().contains("the link was lost"));
}

void TLinkToolTest::controlCharactersNeverReachTheTerminal() {
    // Whatever a sender puts in a symbol: escape, bell, NUL, a C1 control in UTF-8.
    QLocalServer server;
    QVERIFY(QDir().mkpath(QFileInfo(socketPath("a")).path()));
    QVERIFY(server.listen(socketPath("a")));
    auto tool = startTool({"--socket", socketPath("a"), "L"});
    QVERIFY(server.waitForNewConnection(5000));
    QLocalSocket* peer = server.nextPendingConnection();
    QVERIFY(peer);
    while (!peer->canReadLine())
        QVERIFY(peer->waitForReadyRead(5000)); // linked
    peer->write(QByteArray("SYMBOL A\x1b]0;x\x07"
                           "B\0C\\D\xc2\x9b\xc3\xa9\n",
                           24));
    peer->write("SYMBOL IBM\n");
    peer->flush();
    delete peer;
    server.close();
    QVERIFY(tool->waitForFinished(5000));
    const QByteArray out = tool->readAllStandardOutput();
    QCOMPARE(out, QByteArray("A\\x1B]0;x\\x07B\\x00C\\x5CD\\x9B\xc3\xa9\nIBM\n"));
}

void TLinkToolTest::invisibleCharactersAreShownEscaped() {
    // Text that would reorder or hide itself on the terminal: a right-to-left override (so
    // "\u202eLPAA" would read "AAPL"), zero-width characters, a language tag, a line
    // separator, a soft hyphen; a variation selector, the grapheme joiner and blank look-alikes
    // (Braille, Hangul fillers). Letters of any script and emoji are printed as they are.
    QLocalServer server;
    QVERIFY(QDir().mkpath(QFileInfo(socketPath("a")).path()));
    QVERIFY(server.listen(socketPath("a")));
    auto tool = startTool({"--socket", socketPath("a"), "L"});
    QVERIFY(server.waitForNewConnection(5000));
    QLocalSocket* peer = server.nextPendingConnection();
    QVERIFY(peer);
    while (!peer->canReadLine())
        QVERIFY(peer->waitForReadyRead(5000)); // linked
    peer->write(QString::fromUcs4(U"SYMBOL \u202eLPAA\n"
                                  U"SYMBOL A\u200bA\u200dP\u2060L\ufeff\n"
                                  U"SYMBOL X\U000E0001\u2028\u00adY\n"
                                  U"SYMBOL AAPL\ufe0f\n"
                                  U"SYMBOL T\u2800 AA\u034fPL\u3164\u180b\n"
                                  U"SYMBOL \u05d0\u05d1 \u00e9\U0001F4C8\n")
                    .toUtf8());
    peer->flush();
    delete peer;
    server.close();
    QVERIFY(tool->waitForFinished(5000));
    QCOMPARE(QString::fromUtf8(tool->readAllStandardOutput()),
             QString::fromUcs4(U"\\u202ELPAA\n"
                               U"A\\u200BA\\u200DP\\u2060L\\uFEFF\n"
                               U"X\\U000E0001\\u2028\\xADY\n"
                               U"AAPL\\uFE0F\n"
                               U"T\\u2800 AA\\u034FPL\\u3164\\u180B\n"
                               U"\u05d0\u05d1 \u00e9\U0001F4C8\n"));
}

void TLinkToolTest::execRunsTheCommandWithoutAShell() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(socketPath("a")));
    const QString log = Home->path() + "/log.txt";
    const QString marker = Home->path() + "/pwned";
    // A helper that appends its arguments, one per line, to the log.
    const QString script = Home->path() + "/record.sh";
    WriteTextFile(script,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"[$a]\" >> \"$LOG\"; done\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("LOG", log.toLocal8Bit());
    auto tool = startTool(
        {"--socket", socketPath("a"), "--exec", "'" + script + "' --symbol={} \"two words\"", "L"});
    auto bare = startTool({"--socket", socketPath("a"), "--exec", "'" + script + "'", "M"});
    qunsetenv("LOG");
    QTRY_COMPARE(broker.LinkCount("L"), 1);
    QTRY_COMPARE(broker.LinkCount("M"), 1);
    broker.Send("L", "A B");
    broker.Send("L", QString("X;touch '%1'").arg(marker));
    broker.Send("L", "$(id)");
    QTRY_COMPARE_WITH_TIMEOUT(ReadWholeFile(log).count('\n'), 6, 10000);
    broker.Send("M", "ZZ");
    QTRY_COMPARE_WITH_TIMEOUT(ReadWholeFile(log).count('\n'), 7, 10000);
    QCOMPARE(ReadWholeFile(log), QByteArray("[--symbol=A B]\n[two words]\n[--symbol=X;touch '") +
                                     marker.toLocal8Bit() +
                                     "']\n[two words]\n[--symbol=$(id)]\n[two words]\n[ZZ]\n");
    QVERIFY(!QFileInfo::exists(marker));
    broker.Close();
    QVERIFY(tool->waitForFinished(5000));
    QVERIFY(bare->waitForFinished(5000));
}

void TLinkToolTest::findsTheOneRunningClient() {
    {
        auto tool = startTool({"MAIN LIST"});
        QVERIFY(tool->waitForFinished(5000));
        QCOMPARE(tool->exitCode(), 2);
        QVERIFY(tool->readAllStandardError().contains("no running Velquist client found"));
    }
    TLinkBroker one;
    QVERIFY(one.Listen(socketPath("_opt_one")));
    // A socket file left by a client that died does not count.
    WriteTextFile(socketPath("_opt_dead"), "");
    {
        auto tool = startTool({"MAIN LIST"});
        QTRY_COMPARE(one.LinkCount("MAIN LIST"), 1);
        one.Send("MAIN LIST", "IBM");
        QByteArray out;
        QTRY_VERIFY((out += tool->readAllStandardOutput()) == "IBM\n");
        tool->kill();
        tool->waitForFinished();
    }
    TLinkBroker two;
    QVERIFY(two.Listen(socketPath("_opt_two")));
    auto tool = startTool({"MAIN LIST"});
    QVERIFY(tool->waitForFinished(5000));
    QCOMPARE(tool->exitCode(), 2);
    const QByteArray err = tool->readAllStandardError();
    QVERIFY(err.contains("several Velquist clients are running; choose one with --socket"));
    QVERIFY(err.contains(socketPath("_opt_one").toLocal8Bit()));
    QVERIFY(err.contains(socketPath("_opt_two").toLocal8Bit()));
    QVERIFY(!err.contains("_opt_dead"));
}

void TLinkToolTest::refusesASocketOfAnotherUser() {
    if (::geteuid() != 0)
        QSKIP("making a socket of another user needs root");
    TLinkBroker planted;
    QVERIFY(planted.Listen(socketPath("_opt_planted")));
    QCOMPARE(::chown(QFile::encodeName(socketPath("_opt_planted")).constData(), 4242, 4242), 0);
    for (const QStringList& arguments :
         {QStringList{"--socket", socketPath("_opt_planted"), "MAIN LIST"},
          QStringList{"MAIN LIST"}}) {
        auto tool = startTool(arguments);
        QVERIFY(tool->waitForFinished(5000));
        QCOMPARE(tool->exitCode(), 2);
        QCOMPARE(planted.ProgramCount(), 0);
        const QByteArray err = tool->readAllStandardError();
        QVERIFY2(err.contains("belongs to another user") ||
                     err.contains("no running Velquist client found"),
                 err.constData());
    }
}

QTEST_GUILESS_MAIN(TLinkToolTest)
#include "tst_link_tool.moc"
