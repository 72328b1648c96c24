// The broker as an alert source end to end, in-process: a publisher thread (libmosquitto, QoS 1,
// TLS) sends through a real mosquitto on loopback to the desk's broker connection, and the
// inbox's router puts each alert into one of 10 inbox alert windows of a main window on the
// simulated service. Printed: the time from a publish to its row being in its window (the
// component raises OnNewAlert once the row is in the list, before the repaint that follows in
// the same turn), p50/p99 at 1,000 alerts a second; then 5,000 alerts a second for 30 s
// (argument 1 changes the seconds): alerts published against alerts in windows, and the longest
// event-loop stall (a 1 ms timer's longest gap). Baseline: the same publisher through the same
// broker to a bare libmosquitto subscriber in this process, in the same run. Between the two,
// the desk's connection alone (publish -> alerts handed over on the user-interface thread, no
// windows), which tells the connection's share from the windows'. Last, a flood: 17,500 alerts
// in one second, and the longest stall while it is taken in.

#include "alerts/zkAlertForm.h"
#include "broker/zkAlertBroker.h"
#include "components/zkComponentWrappers.h"
#include "hub/zkAlertRouter.h"
#include "shell/zkMainForm.h"

#include "zkBenchHome.h"
#include "zkBenchHttp.h"
#include "zkBenchInboxDesk.h"
#include "zkBenchMqtt.h"
#include "zkBenchTiming.h"
#include "zkMosquitto.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <thread>

using zkBenchHttp::NowNs;
using zkBenchHttp::Percentile;
using zkBenchHttp::SleepUntilNs;
using zkBenchMqtt::Connect;
using zkBenchMqtt::PublishPaced;
using zkBenchMqtt::TClient;

namespace {

// The router as the broker sees it, noting when each alert was handed over (before the router
// delivers it on a later turn of the event loop); without a router it takes them itself.
struct TTimedSink : IAlertSink {
    IAlertSink* Router;
    std::vector<long long>& OfferedNs;
    std::atomic<long long> Taken{0};
    TTimedSink(IAlertSink* router, std::vector<long long>& offeredNs)
        : Router(router), OfferedNs(offeredNs) {}
    TAnswer OfferAlerts(QList<TSourceAlert>&& alerts) override {
        const long long now = NowNs();
        for (const TSourceAlert& a : alerts) {
            const long long n = a.Symbol.mid(1).toLongLong();
            if (n >= 0 && size_t(n) < OfferedNs.size())
                OfferedNs[size_t(n)] = now;
        }
        Taken += alerts.size();
        return Router ? Router->OfferAlerts(std::move(alerts)) : TAnswer(TOffer::Accepted);
    }
};

long long IndexOf(const char* payload, int length) {
    const std::string text(payload, size_t(length));
    const size_t at = text.find("\"S");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 2);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home, install;
    zkBenchHome::SetEnvironment(home);
    QApplication app(argc, argv);
    zkBenchHome::EnterInstallation(install);
    mosquitto_lib_init();
    constexpr int Windows = 10;
    constexpr int LatencyAlerts = 3000;
    constexpr int SustainedRate = 5000;
    constexpr int FloodAlerts = 17500; // in one second
    const int sustainedSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    const long long sustained = (long long)sustainedSeconds * SustainedRate;
    const long long total = LatencyAlerts + sustained + FloodAlerts;

    TMosquitto mosquitto;
    if (!mosquitto.isRunning()) {
        std::printf("no broker: %s\n", qPrintable(mosquitto.problem()));
        return 1;
    }

    // Baseline: the broker's own loopback TLS round, publisher to a bare subscriber.
    std::vector<long long> baseSentNs(LatencyAlerts, 0), baseGotNs(LatencyAlerts, 0);
    {
        TClient subscriber(mosquitto, "bench-base-sub");
        subscriber.OnMessage = [&](const mosquitto_message* m) {
            const long long n = IndexOf(static_cast<const char*>(m->payload), m->payloadlen);
            if (n >= 0 && n < LatencyAlerts)
                baseGotNs[size_t(n)] = NowNs();
        };
        mosquitto_subscribe(subscriber.Mosq, nullptr, "bench/base/#", 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        TClient publisher(mosquitto, "bench-base-pub");
        PublishPaced(publisher, "bench/base/W", Windows, 0, LatencyAlerts, 1000, &baseSentNs);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // The desk's connection alone: publish -> alerts handed over on the user-interface thread,
    // with no windows to feed.
    std::vector<long long> aloneSentNs(LatencyAlerts, 0), aloneNs(LatencyAlerts, 0);
    {
        TTimedSink alone(nullptr, aloneNs);
        TAlertBroker broker(alone);
        if (!Connect(broker, mosquitto.DeskSettings(QStringLiteral("velquist-bench-alone"))))
            return 1;
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            TClient publisher(mosquitto, "bench-alone-pub");
            PublishPaced(publisher, "velquist/alerts/W", Windows, 0, LatencyAlerts, 1000,
                         &aloneSentNs);
        });
        QDeadlineTimer deadline(30000);
        while (alone.Taken < LatencyAlerts && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        sender.join();
        broker.Apply(TBrokerSettings());
    }

    std::vector<long long> inWindowNs(LatencyAlerts, 0);
    std::atomic<long long> inWindows{0};
    TZentrikProMainForm* main = zkBenchInboxDesk::Open(Windows, [&](IAlertData* alert) {
        const long long n = alert->AlertSymbol().mid(1).toLongLong();
        if (n < LatencyAlerts)
            inWindowNs[size_t(n)] = NowNs();
        inWindows.fetch_add(1);
    });
    if (!main)
        return 1;
    TAlertRouter router(*main);
    router.SetOpenNewWindows(false);
    std::vector<long long> offeredNs(LatencyAlerts, 0);
    TTimedSink timed(&router, offeredNs);
    TAlertBroker broker(timed);
    if (!Connect(broker, mosquitto.DeskSettings(QStringLiteral("velquist-bench"))))
        return 1;

    zkBenchHttp::TStallMeter<4> stalls; // 0 idle, 1 latency, 2 sustained, 3 flood
    std::atomic<int>& phase = stalls.Phase;
    std::vector<long long> sentNs(LatencyAlerts, 0);
    double sustainedRateSeen = 0;
    std::thread sender([&] {
        // The subscription settles (SUBACK) before the first publish.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        TClient publisher(mosquitto, "bench-desk-pub");
        phase = 1;
        PublishPaced(publisher, "velquist/alerts/W", Windows, 0, LatencyAlerts, 1000, &sentNs);
        phase = 2;
        const long long start = NowNs();
        PublishPaced(publisher, "velquist/alerts/W", Windows, LatencyAlerts, sustained,
                     SustainedRate, nullptr);
        sustainedRateSeen = double(sustained) / (double(NowNs() - start) / 1e9);
        // The sustained alerts in first, so that the flood's stall is its own.
        for (int i = 0; i < 500 && inWindows.load() < LatencyAlerts + sustained; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        phase = 3;
        PublishPaced(publisher, "velquist/alerts/W", Windows, LatencyAlerts + sustained,
                     FloodAlerts, FloodAlerts, nullptr);
        zkBenchInboxDesk::WaitAllIn(inWindows, total);
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    sender.join();

    std::vector<double> baseMs, latencyMs, offeredMs, aloneMs;
    for (int i = 0; i < LatencyAlerts; ++i) {
        if (aloneNs[size_t(i)] > 0)
            aloneMs.push_back(double(aloneNs[size_t(i)] - aloneSentNs[size_t(i)]) / 1e6);
        if (offeredNs[size_t(i)] > 0)
            offeredMs.push_back(double(offeredNs[size_t(i)] - sentNs[size_t(i)]) / 1e6);
        if (baseGotNs[size_t(i)] > 0)
            baseMs.push_back(double(baseGotNs[size_t(i)] - baseSentNs[size_t(i)]) / 1e6);
        if (inWindowNs[size_t(i)] > 0)
            latencyMs.push_back(double(inWindowNs[size_t(i)] - sentNs[size_t(i)]) / 1e6);
    }
    using zkBenchTiming::Line;
    const double base50 = Percentile(baseMs, 0.5), base99 = Percentile(baseMs, 0.99);
    std::printf("broker end to end: publish (QoS 1, TLS, loopback mosquitto) -> desk's connection "
                "-> router -> %d inbox windows (1,3 action), platform %s\n",
                Windows, qPrintable(QGuiApplication::platformName()));
    Line("publish -> bare subscriber p50 (baseline)", base50, base50, "x baseline p50");
    Line("publish -> bare subscriber p99 (baseline)", base99, base99, "x baseline p99");
    Line("publish -> desk, no windows p50", Percentile(aloneMs, 0.5), base50, "x baseline p50");
    Line("publish -> desk, no windows p99", Percentile(aloneMs, 0.99), base99, "x baseline p99");
    Line("publish -> handed to the router p50", Percentile(offeredMs, 0.5), base50,
         "x baseline p50");
    Line("publish -> handed to the router p99", Percentile(offeredMs, 0.99), base99,
         "x baseline p99");
    Line("publish -> row in window p50 (1,000/s)", Percentile(latencyMs, 0.5), base50,
         "x baseline p50");
    Line("publish -> row in window p99 (1,000/s)", Percentile(latencyMs, 0.99), base99,
         "x baseline p99", 10);
    Line("publish -> row in window max", Percentile(latencyMs, 1.0), base99, "x baseline p99");
    std::printf("  %zu of %d alerts timed (baseline %zu)\n", latencyMs.size(), LatencyAlerts,
                baseMs.size());
    std::printf("sustained %d s: %lld alerts published at %.0f alerts/s (asked for %d/s)\n",
                sustainedSeconds, sustained, sustainedRateSeen, SustainedRate);
    std::printf("alerts published %lld, in windows %lld, lost %lld\n", total, inWindows.load(),
                total - inWindows.load());
    const char* names[] = {"idle", "1,000/s", "5,000/s", "flood"};
    for (int p = 0; p < 4; ++p)
        std::printf(
            "longest event-loop stall, %-8s %7.3f ms (1 ms timer), of it the client busy %7.3f "
            "ms%s\n",
            names[p], stalls.StallMs[p], stalls.BusyMs[p],
            p >= 2 ? (stalls.StallMs[p] <= 50 ? "  goal 50 ms: met" : "  goal 50 ms: MISSED") : "");
    std::printf("desk's status: %s\n", qPrintable(broker.StatusText()));
    std::fflush(stdout);
    broker.Apply(TBrokerSettings());
    delete main;
    return total == inWindows.load() ? 0 : 1;
}
