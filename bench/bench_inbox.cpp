// The alert inbox's webhook under load, in-process over real loopback TCP with keep-alive. A
// sender thread posts; the server and sink run on the main thread's event loop, as in the
// client. Printed: the time from a POST's last byte to the sink holding its alert (p50/p99 at
// 1,000 alerts a second, one alert a request), sustained throughput at 20,000 alerts a second
// posted in batches, the fastest rate with 1,000-alert batches, and the longest stall of the
// event loop in each phase (a 1 ms timer's longest gap). Baseline: a bare QTcpServer echo
// round trip, measured in the same run.

#include "desk/zkAlertSink.h"
#include "inbox/zkInboxServer.h"

#include "zkBenchHttp.h"
#include "zkBenchTiming.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zkBenchHttp;

// Alerts named "S<n>" record when the sink got them.
class TTimingSink : public IAlertSink {
public:
    explicit TTimingSink(size_t capacity) : ReceivedNs(capacity, 0) {}
    TAnswer OfferAlerts(QList<TSourceAlert>&& alerts) override {
        const long long now = NowNs();
        for (const TSourceAlert& a : alerts) {
            const size_t n = size_t(a.Symbol.mid(1).toLongLong());
            if (n < ReceivedNs.size())
                ReceivedNs[n] = now;
        }
        Count.fetch_add(alerts.size());
        return TOffer::Accepted;
    }
    std::vector<long long> ReceivedNs; // read by the sender thread only after its answer
    std::atomic<long long> Count{0};
};

enum TPhase { Echo, Latency, Sustained, Fastest, Largest, Phases };
const char* const PhaseNames[] = {"echo", "1,000/s latency", "20,000/s sustained",
                                  "fastest 1,000-batches", "one 10,000-alert ~1 MB body"};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int LatencyRequests = 3000; // 3 s at 1,000 a second
    constexpr int SustainedSeconds = 3;   // 20,000 a second in batches of 100
    constexpr int SustainedBatch = 100;
    constexpr int FastestSeconds = 2;
    constexpr int FastestBatch = 1000;
    constexpr size_t Capacity = 4000000;

    TTimingSink sink(Capacity);
    TInboxServer server;
    server.SetToken(QString::fromLatin1(Token));
    server.SetSink(&sink);
    if (!server.Listen(0)) {
        std::printf("cannot listen: %s\n", qPrintable(server.Problem()));
        return 1;
    }
    QTcpServer echo;
    StartEcho(echo);

    TStallMeter<Phases> stalls;
    std::atomic<int>& phase = stalls.Phase;
    const double* stallMs = stalls.StallMs;

    std::vector<double> echoMs, latencyMs, sustainedBatchMs;
    double sustainedRate = 0, fastestRate = 0, largestMs = 0;
    long long sustainedAlerts = 0;
    int failures = 0;
    const quint16 inboxPort = server.Port(), echoPort = echo.serverPort();

    std::thread sender([&] {
        // Baseline: a request-sized message echoed back, once a millisecond.
        echoMs = EchoRoundTrips(echoPort, Post(Batch(0, 1)), LatencyRequests);
        TConnection c(inboxPort);
        long long next = 0;
        // One alert a request, once a millisecond.
        phase = Latency;
        std::vector<long long> sentNs;
        long long due = NowNs();
        for (int i = 0; i < LatencyRequests; ++i) {
            const std::string request = Post(Batch(next, 1));
            due += 1000000;
            SleepUntilNs(due);
            sentNs.push_back(NowNs());
            c.Write(request);
            failures += c.ReadResponse() != 202;
            ++next;
        }
        for (int i = 0; i < LatencyRequests; ++i)
            if (sink.ReceivedNs[size_t(i)] > 0)
                latencyMs.push_back(double(sink.ReceivedNs[size_t(i)] - sentNs[size_t(i)]) / 1e6);

        // 20,000 a second: a batch of 100 every 5 ms.
        phase = Sustained;
        const long long before = sink.Count.load();
        const long long start = NowNs();
        due = start;
        const int batches = SustainedSeconds * 20000 / SustainedBatch;
        for (int b = 0; b < batches; ++b) {
            const std::string request = Post(Batch(next, SustainedBatch));
            next += SustainedBatch;
            due += 5000000;
            SleepUntilNs(due);
            const long long t = NowNs();
            c.Write(request);
            failures += c.ReadResponse() != 202;
            sustainedBatchMs.push_back(double(NowNs() - t) / 1e6);
        }
        sustainedAlerts = sink.Count.load() - before;
        sustainedRate = double(sustainedAlerts) / (double(NowNs() - start) / 1e9);

        // As fast as it goes.
        phase = Fastest;
        const long long fastBefore = sink.Count.load();
        const long long fastStart = NowNs();
        while (NowNs() - fastStart < FastestSeconds * 1000000000LL &&
               next + FastestBatch < (long long)Capacity) {
            c.Write(Post(Batch(next, FastestBatch)));
            next += FastestBatch;
            failures += c.ReadResponse() != 202;
        }
        fastestRate = double(sink.Count.load() - fastBefore) / (double(NowNs() - fastStart) / 1e9);

        // The largest request there is.
        phase = Largest;
        std::string big = Batch(0, 10000, 47); // just under 1 MB
        const std::string request = Post(big);
        const long long t = NowNs();
        c.Write(request);
        failures += c.ReadResponse() != 202;
        largestMs = double(NowNs() - t) / 1e6;
        std::printf("  (the largest request: %zu bytes of body)\n", big.size());
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    sender.join();

    using zkBenchTiming::Line;
    const double echo50 = Percentile(echoMs, 0.5), echo99 = Percentile(echoMs, 0.99);
    std::printf("inbox webhook: loopback TCP, keep-alive, server and sink on the event loop\n");
    Line("echo round trip p50 (baseline)", echo50, echo50, "x echo p50");
    Line("echo round trip p99", echo99, echo50, "x echo p50");
    Line("last byte -> sink p50 (1,000 alerts/s)", Percentile(latencyMs, 0.5), echo50,
         "x echo p50");
    Line("last byte -> sink p99 (1,000 alerts/s)", Percentile(latencyMs, 0.99), echo50,
         "x echo p50");
    Line("last byte -> sink max", Percentile(latencyMs, 1.0), echo50, "x echo p50");
    std::printf("  %zu of %d alerts timed\n", latencyMs.size(), LatencyRequests);
    Line("100-alert batch answered p50 (20,000/s)", Percentile(sustainedBatchMs, 0.5), echo50,
         "x echo p50");
    Line("100-alert batch answered p99 (20,000/s)", Percentile(sustainedBatchMs, 0.99), echo50,
         "x echo p50");
    std::printf("sustained: %lld alerts at %.0f alerts/s (asked for 20,000/s)\n", sustainedAlerts,
                sustainedRate);
    std::printf("fastest with 1,000-alert batches: %.0f alerts/s\n", fastestRate);
    Line("one 10,000-alert ~1 MB request answered", largestMs, echo50, "x echo p50");
    for (int p = 0; p < Phases; ++p)
        std::printf("longest event-loop stall, %-28s %7.3f ms (1 ms timer)\n", PhaseNames[p],
                    stallMs[p]);
    std::printf("requests not answered 202: %d\n", failures);
    return failures == 0 ? 0 : 1;
}
