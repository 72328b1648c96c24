// A trading day's hum, in-process, for minutes: the inbox takes 500 alerts a second (a POST of
// 5 every 10 ms over one keep-alive connection) and a real mosquitto brings 100 a second (QoS 1,
// TLS) at once, both through the router into 10 inbox alert windows of a main window on the
// simulated service. Printed: the event loop's longest stall and the stalls over 100 ms (a
// 1 ms timer's gaps), beside the same desk idle for a while first (the baseline: what the
// machine alone does to the timer), the alerts' source -> row in window p50/p99 for each source,
// and that none was lost.
//   bench_soak [SECONDS]   (default 600: ten minutes)
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "hub/zkAlertRouter.h"
#include "inbox/zkInboxServer.h"
#include "shell/zkMainForm.h"

#include "zkBenchHome.h"
#include "zkBenchHttp.h"
#include "zkBenchInboxDesk.h"
#include "zkBenchMqtt.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QTemporaryDir>

#include <QFile>

using namespace zkBenchHttp;

namespace {
std::string LoadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    return file.readLine().split(' ').mid(0, 3).join(' ').toStdString();
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home, install;
    zkBenchHome::SetEnvironment(home);
    QApplication app(argc, argv);
    zkBenchHome::EnterInstallation(install);
    mosquitto_lib_init();
    constexpr int Windows = 10;
    constexpr int InboxBatch = 5, InboxEveryMs = 10; // 500 a second
    constexpr int BrokerRate = 100;
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 600;
    const int idleSeconds = std::clamp(seconds / 10, 5, 30);
    const long long inboxTotal = (long long)seconds * 1000 / InboxEveryMs * InboxBatch;
    const long long brokerTotal = (long long)seconds * BrokerRate;

    TMosquitto mosquitto;
    if (!mosquitto.isRunning()) {
        std::printf("no broker: %s\n", qPrintable(mosquitto.problem()));
        return 1;
    }
    // When each alert's row was in its window: inbox alerts are "S<n>", broker ones "B<n>".
    std::vector<long long> inboxRowNs(size_t(inboxTotal), 0), brokerRowNs(size_t(brokerTotal), 0);
    std::atomic<long long> inWindows{0};
    TZentrikProMainForm* main = zkBenchInboxDesk::Open(Windows, [&](IAlertData* alert) {
        const QString symbol = alert->AlertSymbol();
        std::vector<long long>& rows = symbol.startsWith(u'B') ? brokerRowNs : inboxRowNs;
        const size_t n = size_t(symbol.mid(1).toLongLong());
        if (n < rows.size())
            rows[n] = NowNs();
        inWindows.fetch_add(1);
    });
    if (!main)
        return 1;
    TAlertRouter router(*main);
    router.SetOpenNewWindows(false);
    TInboxServer server;
    server.SetToken(QString::fromLatin1(Token));
    server.SetSink(&router);
    if (!server.Listen(0)) {
        std::printf("cannot listen: %s\n", qPrintable(server.Problem()));
        return 1;
    }
    TAlertBroker broker(router);
    if (!zkBenchMqtt::Connect(broker, mosquitto.DeskSettings(QStringLiteral("velquist-soak"))))
        return 1;

    TStallMeter<2> stalls; // 0 idle (the baseline), 1 the soak
    std::vector<long long> inboxSentNs(size_t(inboxTotal), 0), brokerSentNs(size_t(brokerTotal), 0);
    int failures = 0;
    const quint16 inboxPort = server.Port();
    std::thread brokerSender;
    std::thread inboxSender([&] {
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        stalls.Phase = 1;
        brokerSender = std::thread([&] {
            zkBenchMqtt::TClient publisher(mosquitto, "bench-soak-pub");
            zkBenchMqtt::PublishPaced(publisher, "velquist/alerts/W", Windows, 0, brokerTotal,
                                      BrokerRate, &brokerSentNs, "B");
        });
        TConnection c(inboxPort);
        long long due = NowNs();
        for (long long first = 0; first < inboxTotal; first += InboxBatch) {
            const std::string request = Post(Batch(first, InboxBatch, 5, Windows));
            due += InboxEveryMs * 1000000LL;
            SleepUntilNs(due);
            const long long sent = NowNs();
            for (long long n = first; n < first + InboxBatch; ++n)
                inboxSentNs[size_t(n)] = sent;
            c.Write(request);
            failures += c.ReadResponse() != 202;
        }
        brokerSender.join();
        zkBenchInboxDesk::WaitAllIn(inWindows, inboxTotal + brokerTotal);
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    inboxSender.join();

    const auto latencies = [](const std::vector<long long>& sent,
                              const std::vector<long long>& row) {
        std::vector<double> ms;
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i] > 0 && row[i] > 0)
                ms.push_back(double(row[i] - sent[i]) / 1e6);
        return ms;
    };
    const std::vector<double> inboxMs = latencies(inboxSentNs, inboxRowNs);
    const std::vector<double> brokerMs = latencies(brokerSentNs, brokerRowNs);
    std::printf("soak: %d s of inbox %d/s + broker %d/s into %d inbox windows (1,3 action), "
                "platform %s; load average at the end %s\n",
                seconds, InboxBatch * 1000 / InboxEveryMs, BrokerRate, Windows,
                qPrintable(QGuiApplication::platformName()), LoadAverage().c_str());
    std::printf("  inbox  POST sent -> row in window  p50 %7.3f ms  p99 %7.3f ms  max %8.3f ms\n",
                Percentile(inboxMs, 0.5), Percentile(inboxMs, 0.99), Percentile(inboxMs, 1.0));
    std::printf("  broker publish   -> row in window  p50 %7.3f ms  p99 %7.3f ms  max %8.3f ms\n",
                Percentile(brokerMs, 0.5), Percentile(brokerMs, 0.99), Percentile(brokerMs, 1.0));
    std::printf("  alerts sent %lld, in windows %lld, lost %lld; requests not answered 202: %d\n",
                inboxTotal + brokerTotal, inWindows.load(),
                inboxTotal + brokerTotal - inWindows.load(), failures);
    std::printf(
        "  longest event-loop stall: idle desk %d s (baseline) %7.3f ms, %d over %.0f ms;"
        " soak %7.3f ms (%.2fx), %d over %.0f ms (goal: longest <= 100 ms: %s)\n",
        idleSeconds, stalls.StallMs[0], stalls.LongStalls[0], stalls.LongStallMs, stalls.StallMs[1],
        stalls.StallMs[0] > 0 ? stalls.StallMs[1] / stalls.StallMs[0] : 0.0, stalls.LongStalls[1],
        stalls.LongStallMs, stalls.StallMs[1] <= 100 ? "met" : "MISSED");
    std::printf("  of the longest, the client busy: idle %7.3f ms, soak %7.3f ms\n",
                stalls.BusyMs[0], stalls.BusyMs[1]);
    std::fflush(stdout);
    broker.Apply(TBrokerSettings());
    delete main;
    return failures == 0 && inWindows.load() == inboxTotal + brokerTotal ? 0 : 1;
}
