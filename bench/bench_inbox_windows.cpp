// The alert inbox end to end, in-process: a sender thread posts over loopback TCP (keep-alive)
// to the client's webhook; the router puts each alert into one of 10 inbox alert windows of a
// main window on the simulated service, each window with a "bring forward" action. Printed:
// the time from a POST's last byte to its row being in its window (the component raises
// OnNewAlert once the row is in the list, before the repaint that follows in the same turn),
// p50/p99 at 1,000 alerts a second; then 20,000 alerts a second in batches of 100 for 30 s
// (argument 1 changes the seconds): alerts posted against alerts in windows, and the longest
// event-loop stall (a 1 ms timer's longest gap). Baseline: the same sender against a bare
// QTcpServer echo in the same run. The 1,000 a second run again with each window keeping
// alerts by three rules of its own (symbol on a 5,000-symbol list, a lowest price, words the
// description must not hold), every alert passing them: its p99 against the run without.

#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "hub/zkAlertRouter.h"
#include "inbox/zkInboxServer.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListIndex.h"
#include "symbollists/zkSymbolListsDispatcher.h"

#include "zkBenchHome.h"
#include "zkBenchHttp.h"
#include "zkBenchInboxDesk.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace zkBenchHttp;

int main(int argc, char** argv) {
    QTemporaryDir home, install;
    zkBenchHome::SetEnvironment(home);
    QApplication app(argc, argv);
    zkBenchHome::EnterInstallation(install);
    constexpr int Windows = 10;
    constexpr int LatencyRequests = 3000;
    const int sustainedSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    constexpr int SustainedBatch = 100; // every 5 ms: 20,000 a second
    const size_t capacity = 2 * size_t(LatencyRequests) + size_t(sustainedSeconds) * 20000 + 1000;

    std::vector<long long> inWindowNs(capacity, 0);
    std::atomic<long long> inWindows{0};
    TZentrikProMainForm* main = zkBenchInboxDesk::Open(Windows, [&](IAlertData* alert) {
        const size_t n = size_t(alert->AlertSymbol().mid(1).toLongLong());
        if (n < inWindowNs.size())
            inWindowNs[n] = NowNs();
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
    QTcpServer echo;
    StartEcho(echo);

    // The 1,000 a second run in blocks of 500 alerts, every other one with rules (so that
    // neither gets the warm-up or a busy moment of the machine alone); the alerts of those
    // blocks are on a list of 5,000 symbols.
    constexpr int Block = 500;
    const auto withRules = [](int i) { return (i / Block) % 2 == 1; };
    QStringList symbols;
    for (int i = 0; i < 2 * LatencyRequests; ++i)
        if (withRules(i))
            symbols << QStringLiteral("S%1").arg(i);
    for (int i = int(symbols.size()); i < 5000; ++i)
        symbols << QStringLiteral("F%1").arg(i);
    TKeepRules rules;
    {
        TKeepRule onList, price, words;
        onList.Kind = TKeepRuleKind::OnList;
        onList.List = QStringLiteral("Bench");
        price.Kind = TKeepRuleKind::MinPrice;
        price.Price = 1;
        words.Kind = TKeepRuleKind::NotContains;
        words.Words = {QStringLiteral("halt"), QStringLiteral("test")};
        rules.Rules = {onList, price, words};
    }

    TStallMeter<4> stalls; // 0 echo, 1 latency, 2 sustained, 3 latency with rules
    std::atomic<int>& phase = stalls.Phase;
    const double* stallMs = stalls.StallMs;

    std::vector<double> echoMs, latencyMs, rulesMs;
    std::vector<long long> sentNs(2 * size_t(LatencyRequests), 0);
    long long posted = 0, sustainedPosted = 0;
    double sustainedRate = 0;
    int failures = 0;
    const quint16 inboxPort = server.Port(), echoPort = echo.serverPort();
    std::thread sender([&] {
        echoMs = EchoRoundTrips(echoPort, Post(Batch(0, 1, 5, Windows)), LatencyRequests);
        TConnection c(inboxPort);
        // The list, made through the lists' dispatcher as the user would (the service is
        // connected by now), and a moment for what that costs to pass.
        QMetaObject::invokeMethod(
            &app,
            [&] {
                if (TPrimarySymbolListController* lists = SymbolListController()) {
                    const int32_t id = NextListId(SymbolListModel());
                    lists->CreateList(0, QStringLiteral("Bench"));
                    lists->SetSymbols(id, symbols);
                }
            },
            Qt::BlockingQueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        long long due = NowNs();
        for (int i = 0; i < 2 * LatencyRequests; ++i) {
            if (i % Block == 0) {
                QMetaObject::invokeMethod(
                    &app,
                    [&, on = withRules(i)] {
                        // The rules are for what is posted from now on.
                        router.Flush();
                        if (on && !SymbolListExists(QStringLiteral("Bench")))
                            std::printf("the list of the rules is missing\n");
                        for (TAlertForm* w : main->AlertWindows())
                            w->KeepRules = on ? rules : TKeepRules();
                    },
                    Qt::BlockingQueuedConnection);
                phase = withRules(i) ? 3 : 1;
            }
            const std::string request = Post(Batch(posted, 1, 5, Windows));
            due = std::max(due, NowNs()) + 1000000;
            SleepUntilNs(due);
            sentNs[size_t(i)] = NowNs();
            c.Write(request);
            failures += c.ReadResponse() != 202;
            ++posted;
        }
        QMetaObject::invokeMethod(
            &app,
            [&] {
                for (TAlertForm* w : main->AlertWindows())
                    w->KeepRules = {};
            },
            Qt::BlockingQueuedConnection);
        phase = 2;
        const long long start = NowNs();
        due = start;
        for (int b = 0; b < sustainedSeconds * 20000 / SustainedBatch; ++b) {
            const std::string request = Post(Batch(posted, SustainedBatch, 5, Windows));
            due += 5000000;
            SleepUntilNs(due);
            c.Write(request);
            failures += c.ReadResponse() != 202;
            posted += SustainedBatch;
            sustainedPosted += SustainedBatch;
        }
        sustainedRate = double(sustainedPosted) / (double(NowNs() - start) / 1e9);
        // Queued behind the delivery the last batch posted. (quit() would ask the main window
        // to close, which asks about the layout.)
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    sender.join();
    // What still waits (a delivery takes a slice of a turn at a time) goes in now.
    router.Flush();
    QCoreApplication::processEvents();

    for (int i = 0; i < 2 * LatencyRequests; ++i)
        if (inWindowNs[size_t(i)] > 0)
            (withRules(i) ? rulesMs : latencyMs)
                .push_back(double(inWindowNs[size_t(i)] - sentNs[size_t(i)]) / 1e6);
    using zkBenchTiming::Line;
    const double echo50 = Percentile(echoMs, 0.5);
    std::printf("alert inbox end to end: webhook -> router -> %d inbox windows (1,3 action), "
                "platform %s\n",
                Windows, qPrintable(QGuiApplication::platformName()));
    Line("echo round trip p50 (baseline)", echo50, echo50, "x echo p50");
    Line("last byte -> row in window p50 (1,000/s)", Percentile(latencyMs, 0.5), echo50,
         "x echo p50");
    Line("last byte -> row in window p99 (1,000/s)", Percentile(latencyMs, 0.99), echo50,
         "x echo p50");
    Line("last byte -> row in window max", Percentile(latencyMs, 1.0), echo50, "x echo p50");
    std::printf("  %zu of %d alerts timed\n", latencyMs.size(), LatencyRequests);
    const double p99 = Percentile(latencyMs, 0.99);
    Line("with 3 rules a window, p50 (1,000/s)", Percentile(rulesMs, 0.5), echo50, "x echo p50");
    Line("with 3 rules a window, p99 (1,000/s)", Percentile(rulesMs, 0.99), echo50, "x echo p50");
    std::printf("  %zu of %d alerts timed; p99 with rules / without: %.2f\n", rulesMs.size(),
                LatencyRequests, p99 > 0 ? Percentile(rulesMs, 0.99) / p99 : 0.0);
    std::printf("sustained %d s: %lld alerts posted at %.0f alerts/s (asked for 20,000/s)\n",
                sustainedSeconds, sustainedPosted, sustainedRate);
    std::printf("alerts posted %lld, in windows %lld, lost %lld\n", posted, inWindows.load(),
                posted - inWindows.load());
    const char* names[] = {"echo", "1,000/s", "20,000/s", "1,000/s, rules"};
    for (int p = 0; p < 4; ++p)
        std::printf("longest event-loop stall, %-9s %7.3f ms (1 ms timer), of it the client "
                    "busy %7.3f ms\n",
                    names[p], stallMs[p], stalls.BusyMs[p]);
    std::printf("requests not answered 202: %d\n", failures);
    std::fflush(stdout);
    delete main;
    return failures == 0 && posted == inWindows.load() ? 0 : 1;
}
