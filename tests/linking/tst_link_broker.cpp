#include "components/zkComponentWrappers.h"
#include "linking/zkGenericConnectorForm.h"
#include "linking/zkLinkBroker.h"
#include "platform/zkPaths.h"
#include "platform/zkPrompts.h"
#include "zkTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

// A linked program on a real socket: what it sends, and the lines it has received.
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
    void send(const QByteArray& bytes) {
        Socket.write(bytes);
        Socket.flush();
    }
    QLocalSocket Socket;
    QStringList Lines;
    QByteArray Buffer;
    bool Connected = false;
};

// A program that connects and never reads a byte.
class TStuckProgram {
public:
    explicit TStuckProgram(const QString& path) {
        Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        Connected = ::connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TStuckProgram() { ::close(Fd); }
    bool send(const QByteArray& bytes) {
        return ::write(Fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    int Fd = -1;
    bool Connected = false;
};

QStringList symbolLines(const QStringList& symbols) {
    QStringList lines;
    for (const QString& s : symbols)
        lines << QStringLiteral("SYMBOL ") + s;
    return lines;
}

} // namespace

class TLinkBrokerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    QString path() const { return Home->runtimeDir() + QStringLiteral("/velquist/test.links"); }

private slots:
    void init() { Home = std::make_unique<TTestHome>(); }
    void cleanup() { Home.reset(); }

    void socketPathFollowsTheInstallation();
    void twoProgramsTwoLists();
    void junkLongLinesAndBrokenConnections();
    void slowReaderIsDroppedOthersGoOn();
    void staleSocketIsReplacedLiveOneKept();
    void simulatedConnectorsSendThroughTheBroker();
    void symbolsFromAnotherDeviceGoToTheLinkedPrograms();
    void programsOfAnotherUserAreRefused();
};

void TLinkBrokerTest::socketPathFollowsTheInstallation() {
    const QString runtime = Home->configHome() + QStringLiteral("/velquist/run");
    QCOMPARE(TLinkBroker::SocketPath("_opt_velquist"), runtime + "/_opt_velquist.links");
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(Home->path());
    QCOMPARE(TLinkBroker::DefaultSocketPath(),
             runtime + QLatin1Char('/') + QString(Home->path()).replace('/', '_') + ".links");
    QDir::setCurrent(oldDir);
    // Past the limit of Unix socket paths, a short hash of the lock name stands in.
    const QString longName = QString(200, QLatin1Char('x'));
    const QString hashed = TLinkBroker::SocketPath(longName);
    QVERIFY(QFile::encodeName(hashed).size() <= 107);
    QVERIFY(hashed.startsWith(runtime + "/l-") && hashed.endsWith(".links"));
    QVERIFY(hashed != TLinkBroker::SocketPath(longName + "y"));

    TLinkBroker broker;
    QVERIFY(broker.Listen(TLinkBroker::SocketPath("_opt_velquist")));
    QCOMPARE(QFileInfo(runtime).permissions() & 0x0077, QFileDevice::Permissions());
    QVERIFY(QFileInfo(runtime).permission(QFileDevice::ExeOwner));
    broker.Close();
    QVERIFY(!QFileInfo::exists(TLinkBroker::SocketPath("_opt_velquist")));
}

void TLinkBrokerTest::twoProgramsTwoLists() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(path()));
    TProgram a(path());
    TProgram b(path());
    QVERIFY(a.Connected && b.Connected);
    a.send("LINK Scan\nLINK MAIN LIST\n");
    b.send("LINK Scan\r\nLINK  Gap ups \nLINK Scan\n");
    QTRY_COMPARE(broker.LinkCount("Scan"), 2);
    QTRY_COMPARE(broker.LinkCount(" Gap ups "), 1);
    QCOMPARE(broker.LinkCount("MAIN LIST"), 1);
    // Names compare exactly.
    QCOMPARE(broker.LinkCount("scan"), 0);
    QCOMPARE(broker.LinkCount("Gap ups"), 0);
    QCOMPARE(broker.ProgramCount(), 2);

    broker.Send("Scan", "AAPL");
    broker.Send("MAIN LIST", "IBM");
    broker.Send(" Gap ups ", "NVDA");
    broker.Send("Nobody", "ZZZ");
    broker.Send("Scan", QString::fromUtf8("BRK.B\nSYMBOL FAKE"));
    broker.Send("Scan", QString::fromUtf8("Ä€"));
    QTRY_COMPARE(a.Lines.size(), 4);
    QTRY_COMPARE(b.Lines.size(), 4);
    // A line break inside a symbol cannot forge a line of its own.
    QCOMPARE(a.Lines, symbolLines({"AAPL", "IBM", "BRK.B SYMBOL FAKE", QString::fromUtf8("Ä€")}));
    QCOMPARE(b.Lines, symbolLines({"AAPL", "NVDA", "BRK.B SYMBOL FAKE", QString::fromUtf8("Ä€")}));

    QSignalSpy changed(&broker, &TLinkBroker::LinksChanged);
    a.send("UNLINK Scan\nUNLINK Never linked\n");
    QTRY_COMPARE(broker.LinkCount("Scan"), 1);
    QCOMPARE(changed.size(), 1);
    broker.Send("Scan", "MSFT");
    broker.Send("MAIN LIST", "T");
    QTRY_COMPARE(b.Lines.size(), 5);
    QTRY_COMPARE(a.Lines.size(), 5);
    QCOMPARE(a.Lines.last(), QString("SYMBOL T"));
    QCOMPARE(b.Lines.last(), QString("SYMBOL MSFT"));

    // A program that goes away takes its links with it.
    b.Socket.disconnectFromServer();
    QTRY_COMPARE(broker.LinkCount("Scan"), 0);
    QCOMPARE(broker.LinkCount(" Gap ups "), 0);
    QCOMPARE(broker.LinkCount("MAIN LIST"), 1);
    QTRY_COMPARE(broker.ProgramCount(), 1);
}

void TLinkBrokerTest::junkLongLinesAndBrokenConnections() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(path()));
    TProgram steady(path());
    steady.send("LINK L\n");
    QTRY_COMPARE(broker.LinkCount("L"), 1);

    TProgram noisy(path());
    noisy.send(QByteArray("HELLO\nLINK\nLINK \nlink L\nSYMBOL X\n\n\x01\xff\xfe junk\nUNLINK\n"));
    // Ten megabytes without a line end, then a good line.
    const QByteArray huge(10 * 1024 * 1024, 'A');
    noisy.send("LINK " + huge.left(1000));
    noisy.send(huge);
    noisy.send("\nLINK Big\n");
    QTRY_COMPARE_WITH_TIMEOUT(broker.LinkCount("Big"), 1, 20000);
    QCOMPARE(broker.LinkCount("L"), 1);
    QCOMPARE(broker.LinkCount(QString()), 0);

    // A line cut off by a disconnect is not taken.
    TProgram cut(path());
    cut.send("LINK L");
    QTRY_COMPARE(broker.ProgramCount(), 3);
    cut.Socket.abort();
    QTRY_COMPARE(broker.ProgramCount(), 2);
    QCOMPARE(broker.LinkCount("L"), 1);

    broker.Send("L", "GOOD");
    QTRY_COMPARE(steady.Lines, QStringList{"SYMBOL GOOD"});
    QVERIFY(noisy.Lines.isEmpty());
}

void TLinkBrokerTest::slowReaderIsDroppedOthersGoOn() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(path()));
    TProgram reader(path());
    TStuckProgram stuck(path());
    QVERIFY(reader.Connected && stuck.Connected);
    reader.send("LINK Fast\n");
    QVERIFY(stuck.send("LINK Fast\n"));
    QTRY_COMPARE(broker.LinkCount("Fast"), 2);

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("dropped linked program #\\d+: it left more than "
                                            "1048576 bytes unread"));
    QStringList sent;
    qint64 bytesSent = 0;
    qint64 bytesAtDrop = -1;
    const QMetaObject::Connection watch = connect(&broker, &TLinkBroker::LinksChanged, this, [&] {
        if (bytesAtDrop < 0 && broker.LinkCount("Fast") == 1)
            bytesAtDrop = bytesSent;
    });
    // The broker outlives the figures above, and says its links changed once more as it closes.
    const auto unwatch = qScopeGuard([&] { disconnect(watch); });
    // About 3 MB in batches; the reader keeps up, the stuck program takes nothing.
    for (int batch = 0; batch < 200 && broker.LinkCount("Fast") == 2; ++batch) {
        for (int i = 0; i < 1000; ++i) {
            const QString symbol = QStringLiteral("SYM%1-%2").arg(batch).arg(i);
            sent << symbol;
            bytesSent += symbol.size() + 8;
            broker.Send("Fast", symbol);
        }
        QTRY_COMPARE(reader.Lines.size(), sent.size());
    }
    QCOMPARE(broker.LinkCount("Fast"), 1);
    QCOMPARE(broker.ProgramCount(), 1);
    // Dropped once its unread output passed the limit, not long after (the kernel's socket
    // buffer holds a few hundred kilobytes of it).
    QVERIFY2(bytesAtDrop > TLinkBroker::MaxUnreadBytes, qPrintable(QString::number(bytesAtDrop)));
    QVERIFY2(bytesAtDrop < 2 * TLinkBroker::MaxUnreadBytes,
             qPrintable(QString::number(bytesAtDrop)));
    QCOMPARE(reader.Lines, symbolLines(sent));
}

void TLinkBrokerTest::staleSocketIsReplacedLiveOneKept() {
    QDir().mkpath(QFileInfo(path()).absolutePath());
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
    QVERIFY(QFileInfo::exists(path()));
    TLinkBroker broker;
    QVERIFY(broker.Listen(path()));
    TProgram p(path());
    QVERIFY(p.Connected);

    // Someone serving the socket keeps it.
    TLinkBroker second;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("another client serves"));
    QVERIFY(!second.Listen(path()));
    QVERIFY(broker.IsListening());
    p.send("LINK X\n");
    QTRY_COMPARE(broker.LinkCount("X"), 1);
}

void TLinkBrokerTest::simulatedConnectorsSendThroughTheBroker() {
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(Home->path());
    {
        TGenericConnectorForm form(nullptr);
        QVERIFY(form.Broker()->IsListening());
        QCOMPARE(form.Broker()->Path(), TLinkBroker::DefaultSocketPath());
        form.EnsureListsForActions({"1,4,Scan"});

        TProgram p(form.Broker()->Path());
        p.send("LINK Scan\n");
        QTRY_COMPARE(form.Connector("Scan")->LinkCount(), 1);
        QCOMPARE(form.Connector("MAIN LIST")->LinkCount(), 0);

        form.QueueSymbol("Scan", "AAPL");
        form.QueueSymbol(" Scan ", "MSFT");
        form.FlushSymbols("Scan");
        QTRY_COMPARE(p.Lines, symbolLines({"AAPL", "MSFT"}));

        // After a rename the list's connector serves the new name.
        form.ListNameComboBox->setCurrentIndex(1);
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        zkPrompts::SetNextInput(QString("Scanner"));
        form.RenameButtonClick();
        QCOMPARE(form.Connector("Scanner")->LinkCount(), 0);
        p.send("LINK Scanner\n");
        QTRY_COMPARE(form.Connector("Scanner")->LinkCount(), 1);
    }
    // The window takes its socket with it.
    QVERIFY(!QFileInfo::exists(TLinkBroker::DefaultSocketPath()));
    QDir::setCurrent(oldDir);
}

void TLinkBrokerTest::symbolsFromAnotherDeviceGoToTheLinkedPrograms() {
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(Home->path());
    {
        TGenericConnectorForm form(nullptr);
        form.FormShow();
        QLabel* told = form.SentFromAfarLabel;
        QVERIFY(told->isHidden());
        QCOMPARE(told->textFormat(), Qt::PlainText);
        TProgram main(form.Broker()->Path());
        main.send("LINK MAIN LIST\n");
        TProgram waiting(form.Broker()->Path());
        waiting.send("LINK Waiting\n");
        QTRY_COMPARE(form.Broker()->LinkCount("Waiting"), 1);
        QTRY_COMPARE(form.Broker()->LinkCount("MAIN LIST"), 1);

        // A blank list is MAIN LIST; markup is a symbol's characters.
        QVERIFY(form.SendFromAfar(QString(), "<b>AAPL</b>"));
        QTRY_COMPARE(main.Lines, symbolLines({"<b>AAPL</b>"}));
        QVERIFY(!told->isHidden());
        QVERIFY2(told->text().endsWith(
                     "<b>AAPL</b> came from another device through the broker and was sent to "
                     "\"MAIN LIST\"."),
                 qPrintable(told->text()));
        // The connector shows it among what was sent, as an alert's symbol.
        QVERIFY(form.Connector("MAIN LIST")->Component()->Symbol() == "<b>AAPL</b>");

        // A list the desk does not have, and no program waits on, is not made for it.
        QVERIFY(!form.SendFromAfar("Nowhere", "MSFT"));
        QCOMPARE(form.LinkList.IndexOf("Nowhere"), -1);
        QVERIFY2(
            told->text().contains("MSFT came from another device through the broker for the "
                                  "list \"Nowhere\", which this desk does not have: not sent."),
            qPrintable(told->text()));
        // One a program waits on is.
        QVERIFY(form.SendFromAfar("Waiting", "TSLA"));
        QTRY_COMPARE(waiting.Lines, symbolLines({"TSLA"}));
        QCOMPARE(main.Lines, symbolLines({"<b>AAPL</b>"}));
        // A list of the desk's without programs: kept, and told so.
        form.EnsureList("Scan");
        QVERIFY(form.SendFromAfar("Scan", "NVDA"));
        QVERIFY2(told->text().endsWith("NVDA came from another device through the broker for "
                                       "\"Scan\"; no program is linked to it."),
                 qPrintable(told->text()));
    }
    QDir::setCurrent(oldDir);
}

void TLinkBrokerTest::programsOfAnotherUserAreRefused() {
    TLinkBroker broker;
    QVERIFY(broker.Listen(path()));
    // We pretend to be another user, so this process, at the other end, is not "us".
    zkPaths::SetUserUidForTesting(::geteuid() + 1000);
    TProgram stranger(path());
    stranger.send("LINK MAIN LIST\n");
    QTRY_COMPARE(stranger.Socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(broker.LinkCount("MAIN LIST"), 0);
    QCOMPARE(broker.ProgramCount(), 0);
    zkPaths::SetUserUidForTesting(std::nullopt);
    TProgram own(path());
    own.send("LINK MAIN LIST\n");
    QTRY_COMPARE(broker.LinkCount("MAIN LIST"), 1);
}

QTEST_MAIN(TLinkBrokerTest)
#include "tst_link_broker.moc"
