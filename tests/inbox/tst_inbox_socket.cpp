#include "desk/zkAlertSink.h"
#include "inbox/zkInboxSocket.h"
#include "platform/zkPaths.h"
#include "zkRecordingSink.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

// A program on the socket: what it sends, and the answer lines it got.
class TProgram {
public:
    explicit TProgram(const QString& path) {
        QObject::connect(&Socket, &QLocalSocket::readyRead, [this] {
            Buffer += Socket.readAll();
            qsizetype newline;
            while ((newline = Buffer.indexOf('\n')) >= 0) {
                Lines << QString::fromUtf8(Buffer.left(newline));
                Buffer.remove(0, newline + 1);
            }
        });
        Socket.connectToServer(path);
        Connected = Socket.waitForConnected(2000);
    }
    void Send(const QByteArray& bytes) {
        Socket.write(bytes);
        Socket.flush();
    }
    QLocalSocket Socket;
    QStringList Lines;
    QByteArray Buffer;
    bool Connected = false;
};

struct TToolRun {
    int Code = -1;
    QByteArray Err;
};

} // namespace

class TInboxSocketTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    TRecordingSink Sink;
    QString path() const { return TInboxSocket::SocketPath(QStringLiteral("_test")); }

    // Runs velquist-alert while this test's loop serves the socket.
    TToolRun Tool(const QStringList& arguments, const QByteArray& input = QByteArray()) {
        QProcess tool;
        tool.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-alert"), arguments);
        if (!tool.waitForStarted(5000))
            return TToolRun();
        tool.write(input);
        tool.closeWriteChannel();
        if (!QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 15000)) {
            tool.kill();
            tool.waitForFinished(2000);
            return TToolRun();
        }
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                tool.readAllStandardError()};
    }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        Sink = TRecordingSink();
    }
    void cleanup() {
        zkPaths::SetUserUidForTesting(std::nullopt);
        Home.reset();
    }

    void pathsStaleAndLiveSockets();
    void everyLineIsAnswered();
    void programsOfAnotherUserAreRefused();
    void toolChecksFirstThenSends();
};

void TInboxSocketTest::pathsStaleAndLiveSockets() {
    const QString runtime = Home->configHome() + QStringLiteral("/velquist/run");
    QCOMPARE(path(), runtime + "/_test.inbox");
    const QString longName = QString(200, QLatin1Char('x'));
    const QString hashed = TInboxSocket::SocketPath(longName);
    QVERIFY(QFile::encodeName(hashed).size() <= 107);
    QVERIFY(hashed.startsWith(runtime + "/b-") && hashed.endsWith(".inbox"));
    QVERIFY(hashed != TInboxSocket::SocketPath(longName + "y"));

    QDir().mkpath(runtime);
    {
        // A socket file left by a client that died.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path());
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    TInboxSocket inbox;
    inbox.SetSink(&Sink);
    QVERIFY2(inbox.Listen(path()), qPrintable(inbox.Problem()));
    QCOMPARE(QFileInfo(path()).permissions() & 0x0077, QFileDevice::Permissions());
    TInboxSocket second;
    QVERIFY(!second.Listen(path()));
    QCOMPARE(second.Problem(), "another client serves " + path());
    TProgram program(path());
    program.Send("{\"symbol\":\"A\"}\n");
    QTRY_COMPARE(program.Lines, QStringList{"OK 1"});
    inbox.Close();
    QVERIFY(!QFileInfo::exists(path()));
}

void TInboxSocketTest::everyLineIsAnswered() {
    TInboxSocket inbox;
    inbox.SetSink(&Sink);
    QVERIFY(inbox.Listen(path()));
    TProgram program(path());
    QVERIFY(program.Connected);
    program.Send("{\"symbol\":\"A\",\"price\":2}\r\n\n   \n"
                 "[{\"symbol\":\"B\"},{\"symbol\":\"C\",\"strategy\":\"*\"}]\n"
                 "[{\"symbol\":\"D\"},{\"symbol\":\"E\",\"price\":\"x\"}]\n"
                 "{\"symbol\":\"" +
                 QByteArray(70000, 'L') +
                 "\"}\n"
                 "{\"symbol\":\"F\"");
    QTRY_COMPARE(program.Lines.size(), 4);
    // The line in progress is answered once it ends.
    program.Send("}\n");
    QTRY_COMPARE(program.Lines.size(), 5);
    QCOMPARE(program.Lines, (QStringList{"OK 1", "OK 2", "ERROR item 2: \"price\" is not a number",
                                         "ERROR the line is over 65536 bytes", "OK 1"}));
    QCOMPARE(Sink.Alerts.size(), 4);
    QCOMPARE(Sink.Alerts[0].Price, 2.0);
    QCOMPARE(Sink.Alerts[2].Strategy, QStringLiteral("*"));
    QCOMPARE(Sink.Alerts[3].Symbol, QStringLiteral("F"));
    // Taken, but in no window: said after the count.
    Sink.Unrouted = 1;
    program.Send("{\"symbol\":\"U\"}\n");
    QTRY_COMPARE(program.Lines.size(), 6);
    QCOMPARE(program.Lines.last(), QStringLiteral("OK 1 unrouted 1"));
    Sink.Unrouted = 0;
    Sink.Alerts.removeLast();

    Sink.Answer = IAlertSink::TOffer::Busy;
    program.Send("{\"symbol\":\"G\"}\n");
    QTRY_COMPARE(program.Lines.size(), 7);
    QCOMPARE(program.Lines.last(), QStringLiteral("BUSY"));
    // Full: answered before the line is read (a bad one would be an ERROR otherwise).
    Sink.Busy = true;
    program.Send("{\"symbol\":\"G\",\"price\":\"x\"}\n");
    QTRY_COMPARE(program.Lines.size(), 8);
    QCOMPARE(program.Lines.last(), QStringLiteral("BUSY"));
    Sink.Busy = false;
    Sink.Answer = IAlertSink::TOffer::Accepted;
    inbox.SetClosing(true);
    program.Send("{\"symbol\":\"H\"}\n");
    QTRY_COMPARE(program.Lines.size(), 9);
    QCOMPARE(program.Lines.last(), QStringLiteral("CLOSING"));
    QCOMPARE(Sink.Alerts.size(), 4);
    QCOMPARE(Sink.Offers, 5); // not asked while closing
}

void TInboxSocketTest::programsOfAnotherUserAreRefused() {
    TInboxSocket inbox;
    inbox.SetSink(&Sink);
    QVERIFY(inbox.Listen(path()));
    const QString socketPath = path(); // the runtime folder is not "ours" once we pretend
    // We pretend to be another user, so this process, at the other end, is not "us".
    zkPaths::SetUserUidForTesting(::geteuid() + 1000);
    QTest::ignoreMessage(QtWarningMsg, "velquist: refused a program of another user on the inbox "
                                       "socket");
    TProgram stranger(socketPath);
    QVERIFY2(stranger.Connected, qPrintable(stranger.Socket.errorString()));
    stranger.Send("{\"symbol\":\"A\"}\n");
    QTRY_COMPARE(stranger.Socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(inbox.ProgramCount(), 0);
    QCOMPARE(Sink.Offers, 0);
    zkPaths::SetUserUidForTesting(std::nullopt);
    TProgram own(path());
    own.Send("{\"symbol\":\"A\"}\n");
    QTRY_COMPARE(own.Lines, QStringList{"OK 1"});
}

void TInboxSocketTest::toolChecksFirstThenSends() {
    QVERIFY2(QFileInfo(QStringLiteral(VELQUIST_BIN_DIR "/velquist-alert")).isExecutable(),
             "build velquist-alert first");
    TToolRun run = Tool({"AAPL"});
    QCOMPARE(run.Code, 2); // no client
    QVERIFY(run.Err.contains("no running Velquist client"));

    TInboxSocket inbox;
    inbox.SetSink(&Sink);
    QVERIFY(inbox.Listen(path()));
    run = Tool({"--price", "12.5", "--strategy", "Scan", "--skip", "BRK.B", "gap", "up"});
    QVERIFY2(run.Code == 0, run.Err.constData());
    QCOMPARE(Sink.Alerts.size(), 1);
    QCOMPARE(Sink.Alerts[0].Symbol, QStringLiteral("BRK.B"));
    QCOMPARE(Sink.Alerts[0].Price, 12.5);
    QCOMPARE(Sink.Alerts[0].Strategy, QStringLiteral("Scan"));
    QCOMPARE(Sink.Alerts[0].Description, QStringLiteral("gap up"));
    QVERIFY(Sink.Alerts[0].Skip);

    // A bad line anywhere sends nothing at all.
    run = Tool({"--json"}, "{\"symbol\":\"A\"}\n\n{\"symbol\":\"B\",\"price\":\"NaN\"}\n");
    QCOMPARE(run.Code, 1);
    QVERIFY2(run.Err.contains("line 3: \"price\" is not a number"), run.Err.constData());
    QCOMPARE(run.Err.count("line"), 1);
    QCOMPARE(Tool({"--price", "-1", "X"}).Code, 1);
    QCOMPARE(Sink.Offers, 1);

    run = Tool({"--json"}, "{\"symbol\":\"A\"}\n[{\"symbol\":\"B\"},{\"symbol\":\"C\"}]\n");
    QVERIFY2(run.Code == 0, run.Err.constData());
    QCOMPARE(Sink.Alerts.size(), 4);
    QCOMPARE(Sink.Alerts[3].Symbol, QStringLiteral("C"));

    Sink.Answer = IAlertSink::TOffer::Busy;
    run = Tool({"--json"}, "{\"symbol\":\"D\"}\n{\"symbol\":\"E\"}\n");
    QCOMPARE(run.Code, 3);
    QVERIFY2(run.Err.contains("busy") && run.Err.contains("0 of 2 lines were taken"),
             run.Err.constData());
    inbox.SetClosing(true);
    QCOMPARE(Tool({"F"}).Code, 3);
    QCOMPARE(Sink.Alerts.size(), 4);
}

QTEST_MAIN(TInboxSocketTest)
#include "tst_inbox_socket.moc"
