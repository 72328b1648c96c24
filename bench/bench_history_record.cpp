// What keeping the alert history costs the alert windows: 50 alert windows on the main window
// take 10,000 alerts a second for 60 s (--seconds N), delivered by a timer every 10 ms as a
// service connection would; without a recorder (the baseline), with every window handing each
// alert to the alert hub's own TAlertRecorder (as in the client), in turns. Prints the
// time the user-interface thread spends per alert each way (its CPU time over the run, and the
// wall time of delivering), the whole process's CPU per alert (the writer thread included),
// and the longest gap between two timer ticks (an event-loop stall).
//
// The windows carry a sound and a send to a link list (the raise is left out: it is the window
// system's work, and the more the pipeline costs the smaller the recorder's share would look).

#include "alerts/zkAlertActions.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "history/zkAlertRecorder.h"
#include "hub/zkAlertHub.h"
#include "shell/zkMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

#include "platform/zkThreadClock.h"
#include "zkBenchDesk.h"

using zkBenchDesk::TFedAlertWindow;

namespace {

constexpr int Windows = 50;
constexpr int AlertsPerSecond = 10000;
constexpr int TickMs = 10;
constexpr int Turns = 4;

struct TFigures {
    qint64 Alerts = 0;
    double UiCpuUsPerAlert = 0; // the user-interface thread's CPU over the whole run, per alert
    double UiUsPerAlert = 0;    // wall time in delivery, per alert
    double CpuUsPerAlert = 0;   // the process's CPU (all threads), per alert
    double LongestGapMs = 0;    // between two ticks
};

double ThreadCpuUs() {
    return double(zkThreadClock::ProcessorNs()) / 1e3;
}

double ProcessCpuUs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

std::vector<TAlertData> MakeAlerts() {
    static const char* const Texts[] = {"Gap up (+%1%)", "New high (+%1%)",
                                        "Running down now (-%1%)", "Volume spike (%1x)",
                                        "Crossed above VWAP (+%1%)"};
    std::vector<TAlertData> alerts;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 8000; ++i) {
        QString symbol;
        for (int n = i; symbol.size() < 1 + i % 4; n /= 26)
            symbol += QChar(u'A' + n % 26);
        alerts.emplace_back(
            symbol, 0, now.addMSecs(i), 5.0 + (i * 37) % 50000 / 100.0,
            QString::fromLatin1(Texts[i % 5]).arg(0.2 + (i % 43) / 10.0, 0, 'f', 2));
    }
    return alerts;
}

// Delivers alerts at the rate for `seconds`, round the windows.
TFigures Run(TZentrikProMainForm* main, const std::vector<TFedAlertWindow*>& windows,
             std::vector<TAlertData>& alerts, int seconds) {
    TFigures figures;
    QEventLoop loop;
    QElapsedTimer clock, inDelivery;
    qint64 deliveryNs = 0, lastTickMs = -1;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(TickMs);
    const double cpuBefore = ProcessCpuUs();
    const double uiBefore = ThreadCpuUs();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 nowMs = clock.elapsed();
        if (lastTickMs >= 0)
            figures.LongestGapMs = std::max(figures.LongestGapMs, double(nowMs - lastTickMs));
        lastTickMs = nowMs;
        const qint64 due =
            std::min<qint64>(qint64(seconds) * AlertsPerSecond, nowMs * AlertsPerSecond / 1000);
        inDelivery.start();
        for (; figures.Alerts < due; ++figures.Alerts)
            windows[size_t(figures.Alerts % Windows)]->Fire(
                &alerts[size_t(figures.Alerts % qint64(alerts.size()))]);
        // The idle step after each burst, as the client runs it when the queue is empty.
        ProcessPendingActions(*main);
        deliveryNs += inDelivery.nsecsElapsed();
        if (figures.Alerts >= qint64(seconds) * AlertsPerSecond)
            loop.quit();
    });
    clock.start();
    timer.start();
    loop.exec();
    // What the run left for the event loop (announcements of stored alerts) counts too.
    QCoreApplication::processEvents();
    figures.UiCpuUsPerAlert = (ThreadCpuUs() - uiBefore) / double(figures.Alerts);
    figures.UiUsPerAlert = double(deliveryNs) / 1000.0 / double(figures.Alerts);
    figures.CpuUsPerAlert = (ProcessCpuUs() - cpuBefore) / double(figures.Alerts);
    return figures;
}

// Sums a turn into the figures (weighted by alerts).
void Add(TFigures& sum, const TFigures& turn) {
    const double n = double(sum.Alerts), m = double(turn.Alerts);
    sum.UiCpuUsPerAlert = (sum.UiCpuUsPerAlert * n + turn.UiCpuUsPerAlert * m) / (n + m);
    sum.UiUsPerAlert = (sum.UiUsPerAlert * n + turn.UiUsPerAlert * m) / (n + m);
    sum.CpuUsPerAlert = (sum.CpuUsPerAlert * n + turn.CpuUsPerAlert * m) / (n + m);
    sum.LongestGapMs = std::max(sum.LongestGapMs, turn.LongestGapMs);
    sum.Alerts += turn.Alerts;
}

void Print(const char* what, const TFigures& f) {
    std::printf("  %-17s %7lld alerts   UI thread CPU %6.3f us/alert   delivery (wall) %6.3f "
                "us/alert   process CPU %6.3f us/alert   longest tick gap %5.1f ms\n",
                what, static_cast<long long>(f.Alerts), f.UiCpuUsPerAlert, f.UiUsPerAlert,
                f.CpuUsPerAlert, f.LongestGapMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    zkBenchDesk::PrepareEnvironment(home);
    QApplication app(argc, argv);
    int seconds = 60;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = std::max(1, args[at + 1].toInt());

    std::vector<TFedAlertWindow*> fed;
    TZentrikProMainForm* main = zkBenchDesk::OpenDesk(home, Windows, true, fed);
    for (TAlertForm* w : main->AlertWindows())
        w->SetActions({QStringLiteral("1,2,setup"), QStringLiteral("1,4,List")});

    std::vector<TAlertData> alerts = MakeAlerts();
    std::printf("history recording: %d windows, %d alerts/s for %d s each way (in %d turns), "
                "platform %s\n",
                Windows, AlertsPerSecond, seconds, Turns,
                qPrintable(QGuiApplication::platformName()));
    // The client's own recorder, reached as every window reaches it: through the desk.
    TAlertRecorder* recorder = main->AlertHub ? main->AlertHub->Recorder() : nullptr;
    if (!recorder) {
        std::fprintf(stderr, "the main window has no alert recorder\n");
        return 1;
    }
    recorder->Flush();
    const QString path = recorder->Path();
    qint64 announced = 0;
    TFigures base, with;
    {
        // A history window that is open takes the announcements.
        QObject::connect(recorder, &TAlertRecorder::AlertsStored,
                         [&announced](const std::vector<THistoryAlert>& stored) {
                             announced += qint64(stored.size());
                         });
        // Without and with the recorder in turns, so a change in the machine's load falls on
        // both alike. Without it the desk has no alert log, as with "keep nothing".
        const int turnSeconds = std::max(1, seconds / Turns);
        for (int turn = 0; turn < Turns; ++turn) {
            std::unique_ptr<TAlertRecorder> kept = main->AlertHub->TakeRecorder();
            Add(base, Run(main, fed, alerts, turnSeconds));
            main->AlertHub->PutRecorder(std::move(kept));
            Add(with, Run(main, fed, alerts, turnSeconds));
        }
        Print("without recorder", base);
        Print("with recorder", with);
        recorder->Flush();
        QCoreApplication::processEvents();
    }
    THistoryStore reader(path, THistoryStore::TMode::ReadOnly);
    const qint64 stored = reader.Count({});
    const double slowdown = (with.UiCpuUsPerAlert / base.UiCpuUsPerAlert - 1) * 100;
    std::printf(
        "  UI thread CPU %+.1f %% (goal <= 10 %%: %s); delivery wall time %+.1f %%; process "
        "CPU %+.1f %% (the writer thread)\n",
        slowdown, slowdown <= 10 ? "met" : "MISSED",
        (with.UiUsPerAlert / base.UiUsPerAlert - 1) * 100,
        (with.CpuUsPerAlert / base.CpuUsPerAlert - 1) * 100);
    std::printf("  longest stall with recorder %.1f ms (goal <= 20 ms: %s), without %.1f ms\n",
                with.LongestGapMs, with.LongestGapMs <= 20 ? "met" : "MISSED", base.LongestGapMs);
    std::printf("  stored %lld of %lld alerts, %lld announced\n", static_cast<long long>(stored),
                static_cast<long long>(with.Alerts), static_cast<long long>(announced));
    delete main;
    return stored == with.Alerts ? 0 : 1;
}
