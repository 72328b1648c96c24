#include "zkStreamSocket.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

// What one pass of the event loop reads when the buffer has no limit: a flooding peer does not
// keep the loop from everything else.
constexpr qint64 ReadPassBytes = 256 * 1024;
constexpr qint64 ReadCallBytes = 64 * 1024;

void MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void CloseFd(int fd) {
    // Linux frees the descriptor even when close() is interrupted: never retried.
    ::close(fd);
}

// Fills address with path; false when it does not fit.
bool LocalAddress(const QByteArray& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

} // namespace

TStreamSocket::TStreamSocket(int fd, QObject* parent) : QObject(parent), Fd(fd) {
    if (Fd < 0)
        return;
    MakeNonBlocking(Fd);
    ReadNotifier = new QSocketNotifier(qintptr(Fd), QSocketNotifier::Read, this);
    connect(ReadNotifier, &QSocketNotifier::activated, this, &TStreamSocket::OnReadable);
    WriteNotifier = new QSocketNotifier(qintptr(Fd), QSocketNotifier::Write, this);
    WriteNotifier->setEnabled(false);
    connect(WriteNotifier, &QSocketNotifier::activated, this, &TStreamSocket::OnWritable);
}

TStreamSocket::~TStreamSocket() {
    Abort();
}

TStreamSocket* TStreamSocket::ConnectLocal(const QString& path, int timeoutMs, QObject* parent) {
    sockaddr_un address;
    if (!LocalAddress(QFile::encodeName(path), address))
        return nullptr;
    const QDeadlineTimer deadline(timeoutMs);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return nullptr;
    while (true) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return new TStreamSocket(fd, parent);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && !deadline.hasExpired()) {
            // The server's backlog is full: it lives, but is behind.
            QThread::msleep(std::min<qint64>(10, std::max<qint64>(1, deadline.remainingTime())));
            continue;
        }
        if (errno == EINPROGRESS) {
            pollfd p = {fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            if (::poll(&p, 1, int(std::max<qint64>(0, deadline.remainingTime()))) == 1 &&
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return new TStreamSocket(fd, parent);
        }
        CloseFd(fd);
        return nullptr;
    }
}

std::optional<uid_t> TStreamSocket::PeerUid() const {
    if (Fd < 0)
        return std::nullopt;
    ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(Fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

void TStreamSocket::SetReadBufferSize(qint64 bytes) {
    ReadLimit = std::max<qint64>(0, bytes);
    UpdateNotifiers();
}

QByteArray TStreamSocket::Read(qint64 maxBytes) {
    const qint64 count = std::min(maxBytes, BytesAvailable());
    if (count <= 0)
        return QByteArray();
    QByteArray data(ReadBuffer.constData() + ReadStart, count);
    ReadStart += count;
    if (ReadStart == ReadBuffer.size()) {
        ReadBuffer.clear();
        ReadStart = 0;
    } else if (ReadStart >= ReadCallBytes && ReadStart * 2 >= ReadBuffer.size()) {
        ReadBuffer.remove(0, ReadStart);
        ReadStart = 0;
    }
    UpdateNotifiers(); // room again for what the kernel holds
    return data;
}

bool TStreamSocket::CanReadLine() const {
    return std::memchr(ReadBuffer.constData() + ReadStart, '\n', size_t(BytesAvailable())) !=
           nullptr;
}

QByteArray TStreamSocket::ReadLine(qint64 maxBytes) {
    const qint64 span = std::min(maxBytes, BytesAvailable());
    const char* start = ReadBuffer.constData() + ReadStart;
    const void* newline = std::memchr(start, '\n', size_t(std::max<qint64>(0, span)));
    return Read(newline ? static_cast<const char*>(newline) - start + 1 : span);
}

void TStreamSocket::ReadNow() {
    if (Fd >= 0 && !AtEnd)
        OnReadable();
}

bool TStreamSocket::FillReadBuffer() {
    bool got = false;
    qint64 pass = 0;
    char chunk[ReadCallBytes];
    while (Fd >= 0 && !AtEnd) {
        qint64 room = ReadLimit > 0 ? ReadLimit - BytesAvailable() : ReadPassBytes - pass;
        if (room <= 0)
            break;
        const ssize_t n = ::recv(Fd, chunk, size_t(std::min(room, ReadCallBytes)), 0);
        if (n > 0) {
            if (ReadStart > 0 && ReadStart == ReadBuffer.size()) {
                ReadBuffer.clear();
                ReadStart = 0;
            }
            ReadBuffer.append(chunk, n);
            pass += n;
            got = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        AtEnd = true; // 0: the peer closed; else the connection failed
    }
    return got;
}

void TStreamSocket::OnReadable() {
    const bool got = FillReadBuffer();
    QPointer<TStreamSocket> self(this);
    if (got)
        emit ReadyRead();
    // The handler may have closed or deleted us; the end is reported after the last data.
    if (!self || Fd < 0)
        return;
    if (AtEnd)
        Lost(false);
    else
        UpdateNotifiers();
}

void TStreamSocket::Write(const QByteArray& data) {
    if (Fd < 0 || WriteShut || LostNoted || data.isEmpty())
        return;
    WriteBuffer.append(data);
    if (DrainWriteBuffer() < 0) {
        Lost(true);
        return;
    }
    UpdateNotifiers();
}

bool TStreamSocket::Flush() {
    if (Fd < 0 || LostNoted)
        return false;
    const qint64 written = DrainWriteBuffer();
    if (written < 0) {
        Lost(true);
        return false;
    }
    UpdateNotifiers();
    return written > 0;
}

qint64 TStreamSocket::DrainWriteBuffer() {
    qint64 written = 0;
    while (BytesToWrite() > 0) {
        const ssize_t n =
            ::send(Fd, WriteBuffer.constData() + WriteStart, size_t(BytesToWrite()), MSG_NOSIGNAL);
        if (n >= 0) {
            WriteStart += n;
            written += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        return -1;
    }
    if (WriteStart == WriteBuffer.size()) {
        WriteBuffer.clear();
        WriteStart = 0;
    } else if (WriteStart >= ReadCallBytes && WriteStart * 2 >= WriteBuffer.size()) {
        WriteBuffer.remove(0, WriteStart);
        WriteStart = 0;
    }
    return written;
}

void TStreamSocket::OnWritable() {
    const qint64 written = DrainWriteBuffer();
    if (written < 0) {
        Lost(false);
        return;
    }
    UpdateNotifiers();
    if (written > 0)
        emit BytesWritten(written);
}

bool TStreamSocket::WaitForBytesWritten(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (Fd >= 0 && !LostNoted && BytesToWrite() > 0) {
        if (DrainWriteBuffer() < 0) {
            Lost(true);
            return false;
        }
        if (BytesToWrite() == 0)
            break;
        pollfd p = {Fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return false;
    }
    UpdateNotifiers();
    return Fd >= 0 && !LostNoted && BytesToWrite() == 0;
}

void TStreamSocket::ShutdownWrite() {
    if (Fd < 0 || WriteShut)
        return;
    WriteShut = true;
    ::shutdown(Fd, SHUT_WR);
    UpdateNotifiers();
}

void TStreamSocket::Abort() {
    delete ReadNotifier;
    ReadNotifier = nullptr;
    delete WriteNotifier;
    WriteNotifier = nullptr;
    if (Fd >= 0)
        CloseFd(Fd);
    Fd = -1;
    ReadBuffer.clear();
    ReadStart = 0;
    WriteBuffer.clear();
    WriteStart = 0;
}

void TStreamSocket::UpdateNotifiers() {
    if (Fd < 0)
        return;
    const bool open = !AtEnd && !LostNoted;
    ReadNotifier->setEnabled(open && (ReadLimit == 0 || BytesAvailable() < ReadLimit));
    WriteNotifier->setEnabled(open && !WriteShut && BytesToWrite() > 0);
}

void TStreamSocket::Lost(bool queued) {
    if (LostNoted)
        return;
    LostNoted = true;
    AtEnd = true;
    ReadNotifier->setEnabled(false);
    WriteNotifier->setEnabled(false);
    // A failed write is reported from the event loop: its caller goes on with the socket.
    if (queued)
        QMetaObject::invokeMethod(this, &TStreamSocket::ReportLost, Qt::QueuedConnection);
    else
        ReportLost();
}

void TStreamSocket::ReportLost() {
    if (Fd >= 0)
        emit Disconnected();
}

TStreamListener::TStreamListener(QObject* parent) : QObject(parent) {}

TStreamListener::~TStreamListener() {
    Close();
}

bool TStreamListener::Fail(int error, const QString& what) {
    LastError = error == EADDRINUSE ? TError::AddressInUse : TError::Other;
    ErrorText = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    if (Fd >= 0)
        CloseFd(Fd);
    Fd = -1;
    return false;
}

bool TStreamListener::ListenLocal(const QString& path, int backlog) {
    Close();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address;
    if (!LocalAddress(name, address))
        return Fail(ENAMETOOLONG, QStringLiteral("bind"));
    Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Fd < 0)
        return Fail(errno, QStringLiteral("socket"));
    if (::bind(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fail(errno, QStringLiteral("bind"));
    // Nobody can connect before listen(): the file is the user's alone by then.
    if (::chmod(name.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(Fd, backlog) != 0) {
        const int error = errno;
        ::unlink(name.constData());
        return Fail(error, QStringLiteral("listen"));
    }
    LocalPath = name;
    Notifier = new QSocketNotifier(qintptr(Fd), QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TStreamListener::NewConnection);
    LastError = TError::None;
    ErrorText.clear();
    return true;
}

bool TStreamListener::ListenLoopback(bool ipv6, quint16 port, int backlog) {
    Close();
    Fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Fd < 0)
        return Fail(errno, QStringLiteral("socket"));
    const int on = 1;
    // A port whose last connections still linger in TIME_WAIT can be listened on again.
    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage = {};
    socklen_t length = 0;
    if (ipv6) {
        ::setsockopt(Fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    if (::bind(Fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0)
        return Fail(errno, QStringLiteral("bind"));
    if (::listen(Fd, backlog) != 0)
        return Fail(errno, QStringLiteral("listen"));
    length = sizeof storage;
    if (::getsockname(Fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return Fail(errno, QStringLiteral("getsockname"));
    BoundPort = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                           : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    Notifier = new QSocketNotifier(qintptr(Fd), QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TStreamListener::NewConnection);
    LastError = TError::None;
    ErrorText.clear();
    return true;
}

void TStreamListener::Close() {
    delete Notifier;
    Notifier = nullptr;
    if (Pending >= 0)
        CloseFd(Pending);
    Pending = -1;
    if (Fd >= 0)
        CloseFd(Fd);
    Fd = -1;
    if (!LocalPath.isEmpty())
        ::unlink(LocalPath.constData());
    LocalPath.clear();
    BoundPort = 0;
}

int TStreamListener::AcceptOne() {
    while (Fd >= 0) {
        const int fd = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            return fd;
        // A connection reset before it was taken is simply gone; the next one may wait.
        if (errno != EINTR && errno != ECONNABORTED)
            return -1;
    }
    return -1;
}

bool TStreamListener::HasPendingConnection() {
    if (Pending < 0)
        Pending = AcceptOne();
    return Pending >= 0;
}

TStreamSocket* TStreamListener::NextPendingConnection() {
    if (!HasPendingConnection())
        return nullptr;
    return new TStreamSocket(std::exchange(Pending, -1), this);
}

void TStreamListener::PauseAccepting() {
    if (Notifier)
        Notifier->setEnabled(false);
}

void TStreamListener::ResumeAccepting() {
    if (Notifier)
        Notifier->setEnabled(true);
}
