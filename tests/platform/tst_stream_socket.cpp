#include "platform/zkLocalPeers.h"
#include "platform/zkPaths.h"
#include "platform/zkStreamSocket.h"
#include "zkTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// A peer on plain blocking calls, so that what the sockets under test do is all that runs on
// the event loop.
int RawConnect(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int RawConnectTcp(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Bytes whose every position is told apart from its neighbours: a piece lost, doubled or out
// of order shows.
QByteArray Pattern(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

// Sends all of data from a peer on a plain descriptor while the event loop runs, so that the
// socket under test can read what fills the peer's way.
bool SendAll(int fd, const QByteArray& data, int ms = 30000) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    QDeadlineTimer deadline(ms);
    qsizetype at = 0;
    while (at < data.size() && !deadline.hasExpired()) {
        const ssize_t n = ::send(fd, data.constData() + at, size_t(data.size() - at), 0);
        if (n > 0)
            at += n;
        else if (errno != EAGAIN && errno != EINTR)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return at == data.size();
}

bool CloseOnExec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

// Runs the event loop until done() holds; false when it did not within the time.
template <typename F> bool WaitFor(F&& done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A listener on a socket in a private folder and the server side of one connection to it.
struct TLocalPair {
    TTestHome Home;
    QString Path = Home.runtimeDir() + QStringLiteral("/pair.sock");
    TStreamListener Listener;
    TStreamSocket* Server = nullptr;

    bool Listen() {
        QDir().mkpath(Home.runtimeDir());
        return Listener.ListenLocal(Path);
    }
    // The server side of the connection a peer just made.
    bool Accept() {
        if (!WaitFor([this] { return Listener.HasPendingConnection(); }))
            return false;
        Server = Listener.NextPendingConnection();
        return Server != nullptr;
    }
};

} // namespace

class TStreamSocketTest : public QObject {
    Q_OBJECT
private slots:
    void bigWritesArriveWholeAndInOrderUnderBackpressure();
    void dataBeforeTheEndIsReadThenTheEndReportedOnce();
    void peerGoneMidWriteIsReportedNotFatal();
    void readBufferLimitHoldsTheFloodInTheKernel();
    void linesAndPeerCredentials();
    void manyConnections();
    void localSocketIsPrivateAndCloseOnExec();
    void staleSocketFileReplacedLiveOneNot();
    void loopbackPortInUseIsToldApart();
    void connectWithTimeout();
};

void TStreamSocketTest::bigWritesArriveWholeAndInOrderUnderBackpressure() {
    TLocalPair pair;
    QVERIFY(pair.Listen());
    std::unique_ptr<TStreamSocket> client(TStreamSocket::ConnectLocal(pair.Path, 2000));
    QVERIFY(client);
    QVERIFY(pair.Accept());
    // Far more than the kernel's buffers: most of it waits in ours, and goes out in pieces.
    const QByteArray sent = Pattern(8 * 1024 * 1024 + 13);
    qint64 reported = 0;
    connect(pair.Server, &TStreamSocket::BytesWritten, this,
            [&](qint64 bytes) { reported += bytes; });
    pair.Server->Write(sent.left(1000));
    pair.Server->Write(sent.mid(1000));
    QVERIFY(pair.Server->BytesToWrite() > 0);
    QByteArray received;
    client->SetReadBufferSize(4096); // a slow reader: a little at a time
    connect(client.get(), &TStreamSocket::ReadyRead, this,
            [&] { received += client->Read(client->BytesAvailable()); });
    QVERIFY(WaitFor([&] { return received.size() >= sent.size(); }, 30000));
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    QCOMPARE(pair.Server->BytesToWrite(), qint64(0));
    // What the first write handed the kernel at once is not counted; the rest all is.
    QVERIFY(reported > 0 && reported <= sent.size());
    QVERIFY(pair.Server->IsOpen() && client->IsOpen());
}

void TStreamSocketTest::dataBeforeTheEndIsReadThenTheEndReportedOnce() {
    TLocalPair pair;
    QVERIFY(pair.Listen());
    const int peer = RawConnect(pair.Path);
    QVERIFY(peer >= 0);
    // Data and the end come together, before the server side has even been made.
    const QByteArray sent = Pattern(300 * 1024);
    QCOMPARE(::send(peer, sent.constData(), 100 * 1024, 0), ssize_t(100 * 1024));
    QVERIFY(pair.Accept());
    std::vector<QByteArray> events;
    QByteArray received;
    connect(pair.Server, &TStreamSocket::ReadyRead, this, [&] {
        received += pair.Server->Read(1 << 30);
        events.push_back("data");
    });
    connect(pair.Server, &TStreamSocket::Disconnected, this, [&] { events.push_back("end"); });
    QVERIFY(SendAll(peer, sent.mid(100 * 1024)));
    ::close(peer);
    QVERIFY(WaitFor([&] { return !events.empty() && events.back() == "end"; }));
    QCoreApplication::processEvents();
    QVERIFY(received == sent);
    QCOMPARE(std::count(events.begin(), events.end(), QByteArray("end")), 1);

    // Data and the end read in one go, by a reader that leaves the data in the buffer: it is
    // told of the data first, and the data is still there after the end.
    const int second = RawConnect(pair.Path);
    QCOMPARE(::send(second, "tail", 4, 0), ssize_t(4));
    ::close(second);
    QVERIFY(pair.Accept());
    std::vector<QByteArray> order;
    connect(pair.Server, &TStreamSocket::ReadyRead, this, [&] { order.push_back("data"); });
    connect(pair.Server, &TStreamSocket::Disconnected, this, [&] { order.push_back("end"); });
    QVERIFY(WaitFor([&] { return !order.empty() && order.back() == "end"; }));
    QCOMPARE(pair.Server->Read(100), QByteArray("tail"));
    QCoreApplication::processEvents();
    QCOMPARE(order, (std::vector<QByteArray>{"data", "end"}));
}

void TStreamSocketTest::peerGoneMidWriteIsReportedNotFatal() {
    // Without MSG_NOSIGNAL the first write after the peer left would end this process.
    TLocalPair pair;
    QVERIFY(pair.Listen());
    const int peer = RawConnect(pair.Path);
    QVERIFY(pair.Accept());
    int ends = 0;
    connect(pair.Server, &TStreamSocket::Disconnected, this, [&] { ++ends; });
    pair.Server->Write(Pattern(4 * 1024 * 1024));
    QVERIFY(pair.Server->BytesToWrite() > 0);
    char some[1000];
    QVERIFY(::recv(peer, some, sizeof some, 0) > 0);
    ::close(peer);
    QVERIFY(WaitFor([&] { return ends > 0; }));
    // Writing on is harmless and reports nothing more.
    pair.Server->Write("more");
    pair.Server->Flush();
    QVERIFY(!pair.Server->WaitForBytesWritten(100));
    QTest::qWait(50);
    QCOMPARE(ends, 1);

    // A write that finds the peer gone reports it from the event loop, not from inside Write.
    const int other = RawConnect(pair.Path);
    QVERIFY(pair.Accept());
    ::close(other);
    int otherEnds = 0;
    connect(pair.Server, &TStreamSocket::Disconnected, this, [&] { ++otherEnds; });
    QThread::msleep(20); // the close has reached the socket; the loop has not seen it yet
    pair.Server->Write("x");
    pair.Server->Write("y");
    QCOMPARE(otherEnds, 0);
    QVERIFY(WaitFor([&] { return otherEnds > 0; }));
    QTest::qWait(20);
    QCOMPARE(otherEnds, 1);
}

void TStreamSocketTest::readBufferLimitHoldsTheFloodInTheKernel() {
    TLocalPair pair;
    QVERIFY(pair.Listen());
    const int peer = RawConnect(pair.Path);
    QVERIFY(pair.Accept());
    pair.Server->SetReadBufferSize(16 * 1024);
    ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) | O_NONBLOCK);
    const QByteArray flood = Pattern(4 * 1024 * 1024);
    qsizetype at = 0;
    QByteArray received;
    qint64 mostHeld = 0;
    bool reading = false;
    connect(pair.Server, &TStreamSocket::ReadyRead, this, [&] {
        mostHeld = std::max(mostHeld, pair.Server->BytesAvailable());
        if (reading)
            received += pair.Server->Read(1 << 30);
    });
    // Nobody reads: the sender is soon blocked, and we hold no more than the limit.
    for (int round = 0; round < 50; ++round) {
        const ssize_t n = ::send(peer, flood.constData() + at, size_t(flood.size() - at), 0);
        if (n > 0)
            at += n;
        QCoreApplication::processEvents();
    }
    QVERIFY(at < flood.size());
    QCOMPARE(pair.Server->BytesAvailable(), qint64(16 * 1024));
    // Reading again lets the rest through, in order.
    reading = true;
    received += pair.Server->Read(1 << 30);
    QVERIFY(WaitFor(
        [&] {
            const ssize_t n = ::send(peer, flood.constData() + at, size_t(flood.size() - at), 0);
            if (n > 0)
                at += n;
            return received.size() == flood.size();
        },
        30000));
    QVERIFY(received == flood);
    QVERIFY(mostHeld <= 16 * 1024);
    ::close(peer);
}

void TStreamSocketTest::linesAndPeerCredentials() {
    TLocalPair pair;
    QVERIFY(pair.Listen());
    std::unique_ptr<TStreamSocket> client(TStreamSocket::ConnectLocal(pair.Path, 2000));
    QVERIFY(client);
    QVERIFY(pair.Accept());
    QCOMPARE(pair.Server->PeerUid(), std::optional<uid_t>(::getuid()));
    QCOMPARE(client->PeerUid(), std::optional<uid_t>(::getuid()));
    QVERIFY(zkLocalPeers::PeerIsUser(pair.Server->Descriptor()));
    client->Write("one\ntwo\nthree-with-no-end");
    QVERIFY(client->WaitForBytesWritten(1000));
    QVERIFY(WaitFor([&] { return pair.Server->BytesAvailable() == 25; }));
    QVERIFY(pair.Server->CanReadLine());
    QCOMPARE(pair.Server->ReadLine(100), QByteArray("one\n"));
    QCOMPARE(pair.Server->ReadLine(2), QByteArray("tw")); // cut at the limit
    QCOMPARE(pair.Server->ReadLine(100), QByteArray("o\n"));
    QVERIFY(!pair.Server->CanReadLine());
    QCOMPARE(pair.Server->ReadLine(100), QByteArray("three-with-no-end"));
    QCOMPARE(pair.Server->BytesAvailable(), qint64(0));
}

void TStreamSocketTest::manyConnections() {
    TLocalPair pair;
    QVERIFY(pair.Listen());
    std::vector<TStreamSocket*> servers;
    connect(&pair.Listener, &TStreamListener::NewConnection, this, [&] {
        while (TStreamSocket* s = pair.Listener.NextPendingConnection()) {
            servers.push_back(s);
            // Echoes every line back.
            connect(s, &TStreamSocket::ReadyRead, this, [s] {
                while (s->CanReadLine())
                    s->Write(s->ReadLine(1000));
            });
        }
    });
    constexpr int Count = 300;
    std::vector<std::unique_ptr<TStreamSocket>> clients;
    for (int i = 0; i < Count; ++i) {
        clients.emplace_back(TStreamSocket::ConnectLocal(pair.Path, 5000));
        QVERIFY(clients.back());
        clients.back()->Write("client " + QByteArray::number(i) + '\n');
        if (i % 25 == 24) // within the backlog of 50
            QCoreApplication::processEvents();
    }
    QVERIFY(WaitFor(
        [&] {
            return std::all_of(clients.begin(), clients.end(),
                               [](const auto& c) { return c->CanReadLine(); });
        },
        20000));
    for (int i = 0; i < Count; ++i)
        QCOMPARE(clients[i]->ReadLine(1000), "client " + QByteArray::number(i) + '\n');
    QCOMPARE(int(servers.size()), Count);
}

void TStreamSocketTest::localSocketIsPrivateAndCloseOnExec() {
    TLocalPair pair;
    ::umask(0); // the mode must not depend on the user's umask
    const bool listening = pair.Listen();
    ::umask(022);
    QVERIFY(listening);
    QCOMPARE(ModeBits(pair.Path) & 0777, 0600u);
    QVERIFY(zkLocalPeers::SocketFileProblem(pair.Path).isEmpty());
    std::unique_ptr<TStreamSocket> client(TStreamSocket::ConnectLocal(pair.Path, 2000));
    QVERIFY(client);
    QVERIFY(pair.Accept());
    QVERIFY(CloseOnExec(client->Descriptor()));
    QVERIFY(CloseOnExec(pair.Server->Descriptor()));
    QVERIFY((::fcntl(pair.Server->Descriptor(), F_GETFL) & O_NONBLOCK) != 0);
    // A file in the way is not replaced by a listener ...
    TStreamListener second;
    QVERIFY(!second.ListenLocal(pair.Path));
    QCOMPARE(second.Error(), TStreamListener::TError::AddressInUse);
    QVERIFY(QFileInfo::exists(pair.Path));
    // ... and closing removes the file.
    pair.Listener.Close();
    QVERIFY(!QFileInfo::exists(pair.Path));
    QVERIFY(!pair.Listener.ListenLocal(pair.Home.path() + "/no/such/folder/x.sock"));
    QCOMPARE(pair.Listener.Error(), TStreamListener::TError::Other);
}

void TStreamSocketTest::staleSocketFileReplacedLiveOneNot() {
    TTestHome home;
    QVERIFY(zkPaths::EnsurePrivateDir(zkPaths::RuntimeDir()));
    const QString path = zkPaths::RuntimeDir() + "/stale.sock";
    {
        // A socket file left by a process that died: bound, never closed properly.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    QVERIFY(QFileInfo::exists(path));
    QString problem;
    std::unique_ptr<TStreamListener> first(zkLocalPeers::ListenPrivate(path, nullptr, &problem));
    QVERIFY2(first, qPrintable(problem));
    QCOMPARE(ModeBits(path) & 0777, 0600u);
    QCOMPARE(zkLocalPeers::LiveSockets(".sock"), QStringList{path});

    // A live one stays, and keeps answering.
    std::unique_ptr<TStreamListener> second(zkLocalPeers::ListenPrivate(path, nullptr, &problem));
    QVERIFY(!second);
    QVERIFY2(problem.contains("another client serves"), qPrintable(problem));
    std::unique_ptr<TStreamSocket> client(TStreamSocket::ConnectLocal(path, 2000));
    QVERIFY(client);
    QVERIFY(WaitFor([&] { return first->HasPendingConnection(); }));
}

void TStreamSocketTest::loopbackPortInUseIsToldApart() {
    TStreamListener any;
    QVERIFY(any.ListenLoopback(false, 0));
    QVERIFY(any.Port() != 0);
    TStreamListener same;
    QVERIFY(!same.ListenLoopback(false, any.Port()));
    QCOMPARE(same.Error(), TStreamListener::TError::AddressInUse);
    QVERIFY(!same.IsListening());

    const int peer = RawConnectTcp(any.Port());
    QVERIFY(peer >= 0);
    QVERIFY(WaitFor([&] { return any.HasPendingConnection(); }));
    std::unique_ptr<TStreamSocket> server(any.NextPendingConnection());
    QVERIFY(CloseOnExec(server->Descriptor()));
    server->Write("HTTP/1.1 200 OK\r\n\r\n");
    server->ShutdownWrite();
    char answer[64] = {};
    QCOMPARE(::recv(peer, answer, sizeof answer, MSG_WAITALL), ssize_t(19));
    ::close(peer);

    // Paused, a connection waits in the backlog; resumed, it is announced.
    int announced = 0;
    connect(&any, &TStreamListener::NewConnection, this, [&] {
        ++announced;
        delete any.NextPendingConnection();
    });
    any.PauseAccepting();
    const int waiting = RawConnectTcp(any.Port());
    QTest::qWait(50);
    QCOMPARE(announced, 0);
    any.ResumeAccepting();
    QVERIFY(WaitFor([&] { return announced > 0; }));
    ::close(waiting);

    // ::1 where the machine has it; a v4 listener does not hold the v6 port.
    TStreamListener v6;
    if (v6.ListenLoopback(true, any.Port()))
        QCOMPARE(v6.Port(), any.Port());
    else
        QVERIFY(v6.Error() != TStreamListener::TError::AddressInUse);
}

void TStreamSocketTest::connectWithTimeout() {
    TTestHome home;
    QDir().mkpath(home.runtimeDir());
    const QString path = home.runtimeDir() + "/nobody.sock";
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!TStreamSocket::ConnectLocal(path, 300));              // no file: at once
    QVERIFY(!TStreamSocket::ConnectLocal(QString(200, 'x'), 300)); // too long for a socket
    QVERIFY(timer.elapsed() < 250);
    TStreamListener listener;
    QVERIFY(listener.ListenLocal(path, 1));
    // The backlog is full and nobody accepts: connecting gives up after its time.
    std::vector<std::unique_ptr<TStreamSocket>> queued;
    while (queued.size() < 8) {
        TStreamSocket* s = TStreamSocket::ConnectLocal(path, 100);
        if (!s)
            break;
        queued.emplace_back(s);
    }
    QVERIFY(queued.size() < 8);
    timer.restart();
    QVERIFY(!TStreamSocket::ConnectLocal(path, 200));
    QVERIFY(timer.elapsed() >= 190);
    // Once the server takes one, the next connects.
    delete listener.NextPendingConnection();
    std::unique_ptr<TStreamSocket> late(TStreamSocket::ConnectLocal(path, 1000));
    QVERIFY(late);
}

QTEST_GUILESS_MAIN(TStreamSocketTest)
#include "tst_stream_socket.moc"
