// Alert windows under load, on the simulated service:
//  1. one alert window fed 1,000 alerts a second: share of wall time the user-interface thread
//     is busy (not waiting for events), and resident memory over time once the bounded history
//     is full;
//  2. twenty alert windows with full histories: resident memory, beside the same process with
//     no alert window.
// Usage: bench_alert_window [seconds for part 1, default 60]
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "components/zkComponents.h"
#include "platform/zkThreadClock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {
double residentMiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0 : 0;
}

// Share of wall time the user-interface thread spends on the processor (this thread's CPU
// time, so waits for events do not count and other processes' load does not either).
struct TBusyMeter {
    QElapsedTimer Wall;
    qint64 CpuStartNs = 0;
    void start() {
        CpuStartNs = zkThreadClock::ProcessorNs();
        Wall.start();
    }
    double busyShare() const {
        const qint64 wall = Wall.nsecsElapsed();
        return wall > 0 ? double(zkThreadClock::ProcessorNs() - CpuStartNs) / double(wall) : 0;
    }
};

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        qputenv(v, home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;

    std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
    connection->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("1"));
    connection->SetPropertyByName(QStringLiteral("SimConnectDelay"), QStringLiteral("0"));
    connection->SetUserName(QStringLiteral("DEMO"));
    connection->SetPassword(QStringLiteral("x"));
    runFor(200);
    if (connection->ConnectionStatus() != 1) {
        fprintf(stderr, "the simulated service did not connect\n");
        return 1;
    }
    const double bareMiB = residentMiB();

    // 1. One window, 1,000 alerts a second.
    qint64 alerts = 0;
    {
        auto* w = new TAlertForm(nullptr);
        QObject::connect(w->ZentrikWindowX, &TZentrikWindowX::OnNewAlert, [&alerts] { ++alerts; });
        w->show();
        TBusyMeter meter;
        meter.start();
        printf("one alert window, 1,000 alerts/s, %d s\n", seconds);
        printf("  %6s %10s %10s %10s\n", "t (s)", "alerts", "busy", "RSS MiB");
        const int step = std::max(1, seconds / 6);
        for (int t = step; t <= seconds; t += step) {
            runFor(step * 1000);
            printf("  %6d %10lld %9.1f%% %10.1f\n", t, static_cast<long long>(alerts),
                   100.0 * meter.busyShare(), residentMiB());
        }
        printf("  user-interface thread busy: %.1f%% of wall time (goal: at most 20%%)\n",
               100.0 * meter.busyShare());
        delete w;
    }

    // 2. Twenty windows with full histories.
    std::vector<TAlertForm*> windows;
    for (int i = 0; i < 20; ++i) {
        auto* w = new TAlertForm(nullptr);
        w->show();
        windows.push_back(w);
    }
    // 5,000 rows each at 1,000 alerts a second per window, with room to spare.
    runFor(6500);
    const double fullMiB = residentMiB();
    printf("twenty alert windows with full histories\n");
    printf("  process without windows: %7.1f MiB\n", bareMiB);
    printf("  with twenty full windows: %7.1f MiB (goal: at most 150 MiB in all)\n", fullMiB);
    printf("  ratio: %.2fx\n", fullMiB / bareMiB);
    for (TAlertForm* w : windows)
        delete w;
    return 0;
}
