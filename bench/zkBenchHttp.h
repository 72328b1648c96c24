#pragma once

// What the inbox benchmarks share: a blocking HTTP sender on one keep-alive connection, the
// request and batch bodies, a monotonic clock and percentiles.

#include "platform/zkThreadClock.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace zkBenchHttp {

inline const QByteArray Token = "benchtoken0123456789abcdef0123456789abcd";

inline long long NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

inline void SleepUntilNs(long long due) {
    timespec t{};
    t.tv_sec = time_t(due / 1000000000LL);
    t.tv_nsec = long(due % 1000000000LL);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
}

inline double Percentile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1))];
}

// A blocking sender on one keep-alive connection. When the server ends the connection (it
// answered "Connection: close", or a write or read failed) it opens a new one, so the next
// request goes out again.
class TConnection {
public:
    // A request's answer: its status (0 when the connection failed) and Retry-After in seconds
    // (0 when absent).
    struct TAnswer {
        int Status = 0;
        int RetryAfter = 0;
    };

    explicit TConnection(quint16 port) : Port(port) {
        if (!Open())
            std::perror("connect");
    }
    ~TConnection() { ::close(Fd); }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // False when the connection failed; the next read then opens a new one. No SIGPIPE: a
    // server that closed early must not end the benchmark.
    bool Write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(Fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    // Reads exactly n bytes (the echo).
    void ReadBytes(size_t n) {
        char buffer[4096];
        while (n > 0) {
            const ssize_t got = ::read(Fd, buffer, std::min(n, sizeof buffer));
            if (got <= 0)
                return;
            n -= size_t(got);
        }
    }
    // Reads one HTTP answer.
    TAnswer ReadAnswer() {
        for (;;) {
            const size_t end = Pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                size_t length = 0;
                const size_t at = Pending.find("Content-Length: ");
                if (at != std::string::npos && at < end)
                    length = size_t(std::atoll(Pending.c_str() + at + 16));
                if (Pending.size() >= end + 4 + length) {
                    TAnswer answer;
                    answer.Status = std::atoi(Pending.c_str() + 9);
                    const size_t retry = Pending.find("Retry-After: ");
                    if (retry != std::string::npos && retry < end)
                        answer.RetryAfter = std::atoi(Pending.c_str() + retry + 13);
                    const bool close = Pending.find("Connection: close") < end;
                    Pending.erase(0, end + 4 + length);
                    if (close)
                        Reopen();
                    return answer;
                }
            }
            char buffer[4096];
            const ssize_t got = ::read(Fd, buffer, sizeof buffer);
            if (got <= 0) {
                Reopen();
                return {};
            }
            Pending.append(buffer, size_t(got));
        }
    }
    // Reads one HTTP answer; its status.
    int ReadResponse() { return ReadAnswer().Status; }
    // Writes a request and reads its answer.
    TAnswer Send(const std::string& request) {
        if (!Write(request)) {
            Reopen();
            return {};
        }
        return ReadAnswer();
    }

private:
    bool Open() {
        Fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    void Reopen() {
        ::close(Fd);
        Pending.clear();
        Open();
    }

    quint16 Port;
    int Fd = -1;
    std::string Pending;
};

inline std::string Post(const std::string& body) {
    return "POST /alerts/" + Token.toStdString() +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Alerts "S<first>"... ; with windows > 0, alert n goes to the strategy
// "W<strategyBase + n % windows>".
inline std::string Batch(long long first, int count, size_t descriptionBytes = 5, int windows = 0,
                         int strategyBase = 0) {
    const std::string description(descriptionBytes, 'd');
    std::string body = "[";
    for (int i = 0; i < count; ++i) {
        body += "{\"symbol\":\"S" + std::to_string(first + i) +
                "\",\"price\":12.5,\"description\":\"" + description + "\"";
        if (windows > 0)
            body +=
                ",\"strategy\":\"W" + std::to_string(strategyBase + (first + i) % windows) + "\"";
        body += "}";
        body += i + 1 < count ? "," : "]";
    }
    return body;
}

// The baseline: a server on loopback that echoes what it gets, on the calling thread's loop.
inline void StartEcho(QTcpServer& echo) {
    echo.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&echo, &QTcpServer::newConnection, [&echo] {
        while (QTcpSocket* s = echo.nextPendingConnection()) {
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
        }
    });
}

// The sender's baseline: a message written and echoed back once a millisecond; the round
// trips in ms.
inline std::vector<double> EchoRoundTrips(quint16 port, const std::string& message, int count) {
    std::vector<double> ms;
    TConnection c(port);
    long long due = NowNs();
    for (int i = 0; i < count; ++i) {
        due += 1000000;
        SleepUntilNs(due);
        const long long start = NowNs();
        c.Write(message);
        c.ReadBytes(message.size());
        ms.push_back(double(NowNs() - start) / 1e6);
    }
    return ms;
}

// The event loop's longest gap per phase, seen by a 1 ms timer; the sender thread sets the
// phase. Beside it, the most processor time the user-interface thread spent between two ticks:
// the client's own share of a stall, without the time other programs took the processor.
template <int Phases> class TStallMeter {
public:
    TStallMeter() {
        SinceTick.start();
        CpuAtTick = zkThreadClock::ProcessorNs();
        Ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&Ticker, &QTimer::timeout, [this] {
            const double gap = double(SinceTick.nsecsElapsed()) / 1e6;
            SinceTick.restart();
            const long long cpu = zkThreadClock::ProcessorNs();
            const double busy = double(cpu - CpuAtTick) / 1e6;
            CpuAtTick = cpu;
            StallMs[Phase.load()] = std::max(StallMs[Phase.load()], gap);
            LongStalls[Phase.load()] += gap > LongStallMs;
            BusyMs[Phase.load()] = std::max(BusyMs[Phase.load()], busy);
        });
        Ticker.start(1);
    }
    std::atomic<int> Phase{0};
    double StallMs[Phases] = {};
    double BusyMs[Phases] = {};
    // Gaps over LongStallMs, counted: a user feels those.
    static constexpr double LongStallMs = 100;
    int LongStalls[Phases] = {};

private:
    QElapsedTimer SinceTick;
    long long CpuAtTick = 0;
    QTimer Ticker;
};

} // namespace zkBenchHttp
