// An idle desk: the client with 1 and with 100 alert windows and nothing arriving (the simulated
// service makes no alerts), beside a bare Qt Widgets program showing one window, all running at
// the same time on the same display, so that they share the run's conditions. For each, after
// a settling time (35 s): the wake-ups a second (voluntary context switches of all its threads, from
// /proc/PID/task/*/status) and its processor time (/proc/PID/stat), over S seconds; then the
// threads that woke. The goal: at most 1 wake-up a second more than the bare program, no
// processor time to speak of.
//   bench_idle_desk [--xvfb | --xvfb-openbox] [--busy] [SECONDS [CLIENT [EARLIER_CLIENT]]]
// SECONDS: 30. CLIENT: the built client. EARLIER_CLIENT, another build (the one before a change),
// runs beside it for a figure before. --busy measures once more with a busy loop on a core.
#include "zkBenchDisplay.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Past the start-up's last one-off wake-ups: a thread of Qt's shared pool that did start-up work
// (old temporaries removed, the sound output prepared) ends after 30 s without work.
constexpr int SettleSeconds = 35;

// The threads' voluntary switches by id, their names, and the process's processor ticks.
struct TSample {
    std::map<QString, qint64> Switches;
    std::map<QString, QString> Names;
    qint64 CpuTicks = 0;
};

TSample Sample(qint64 pid) {
    TSample s;
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    for (const QString& tid :
         QDir(proc + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString task = proc + QStringLiteral("/task/") + tid;
        for (const QByteArray& line : ReadWholeFile(task + QStringLiteral("/status")).split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                s.Switches[tid] = line.mid(24).trimmed().toLongLong();
        s.Names[tid] = QString::fromUtf8(ReadWholeFile(task + QStringLiteral("/comm")).trimmed());
    }
    const QByteArray stat = ReadWholeFile(proc + QStringLiteral("/stat"));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 12)
        s.CpuTicks = fields[11].toLongLong() + fields[12].toLongLong(); // utime, stime
    return s;
}

struct TFigure {
    double WakeupsPerS = 0;
    double CpuPercent = 0;
    QString Threads; // "name n/s" of the threads that woke
};

TFigure Compare(const TSample& a, const TSample& b, double seconds) {
    TFigure f;
    qint64 total = 0;
    for (const auto& [tid, n] : b.Switches) {
        const auto before = a.Switches.find(tid);
        const qint64 woke = n - (before == a.Switches.end() ? 0 : before->second);
        total += woke;
        if (woke > 0)
            f.Threads +=
                QStringLiteral(" %1 %2/s").arg(b.Names.at(tid)).arg(woke / seconds, 0, 'f', 2);
    }
    f.WakeupsPerS = total / seconds;
    f.CpuPercent = 100.0 * (b.CpuTicks - a.CpuTicks) / double(::sysconf(_SC_CLK_TCK)) / seconds;
    return f;
}

// One client in an installation and a home of its own, opening a layout of `windows` alert
// windows at start, with the simulated service making no alerts.
struct TDesk {
    QString Name;
    std::unique_ptr<TTestHome> Home;
    QTemporaryDir Inst;
    std::unique_ptr<TClientRun> Run;

    bool Start(const QString& client, int windows, const QProcessEnvironment& env) {
        Home = std::make_unique<TTestHome>();
        QDir().mkpath(Inst.filePath(QStringLiteral("SavedWindows")));
        if (!QFile::copy(client, Inst.filePath(QStringLiteral("velquist"))))
            return false;
        WriteTextFile(Inst.filePath(QStringLiteral("Settings.ini")),
                      "[ActiveX]\nSimAlertInterval=0\n");
        const QString layout = Inst.filePath(QStringLiteral("SavedWindows/desk.zkl"));
        QStringList configs;
        for (int i = 0; i < windows; ++i)
            configs << QStringLiteral("WN=Idle%1&S=").arg(i);
        WriteAlertWindowsLayout(layout, configs);
        StoreDeskChoices(layout, true);
        Run = std::make_unique<TClientRun>(Inst.filePath(QStringLiteral("velquist")), QStringList(),
                                           Inst.path(), env);
        return Run->waitStarted();
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && QByteArray(argv[1]) == "--bare-window") {
        QApplication app(argc, argv);
        QWidget w;
        w.resize(210, 80);
        w.show();
        return app.exec();
    }
    if (const int code = zkBenchDisplay::RunOnDisplay(argc, argv); code >= 0)
        return code;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool busy = args.removeAll(QStringLiteral("--busy")) > 0;
    const int seconds = args.size() > 0 && args[0].toInt() > 0 ? args[0].toInt() : 30;
    const QString client = args.size() > 1 ? args[1] : QStringLiteral(VELQUIST_BIN_DIR "/velquist");
    const QString earlier = args.size() > 2 ? args[2] : QString();

    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")));
    std::printf("idle desks on %s, settling %d s, then %d s measured, all side by side\n",
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))), SettleSeconds, seconds);
    TClientRun bare(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-window")},
                    QString(), env);
    if (!bare.waitStarted()) {
        std::fprintf(stderr, "the bare program did not start\n");
        return 1;
    }
    std::vector<std::unique_ptr<TDesk>> desks;
    for (const QString& program : {client, earlier}) {
        if (program.isEmpty())
            continue;
        for (const int windows : {1, 100}) {
            auto desk = std::make_unique<TDesk>();
            desk->Name = QStringLiteral("%1, %2 window%3")
                             .arg(program == client ? QStringLiteral("client") : "earlier client")
                             .arg(windows)
                             .arg(windows == 1 ? "" : "s");
            if (!desk->Start(program, windows, env)) {
                std::fprintf(stderr, "%s did not start\n", qPrintable(desk->Name));
                return 1;
            }
            desks.push_back(std::move(desk));
        }
    }
    QThread::sleep(SettleSeconds);

    const auto measure = [&](const char* title) {
        std::vector<qint64> pids{bare.process().processId()};
        for (const auto& desk : desks)
            pids.push_back(desk->Run->process().processId());
        // The client's clock ticks at the start of each second: a window of S seconds from any
        // moment holds S or S + 1 ticks. Begun half-way through a second, it holds S.
        const qint64 intoSecond = QDateTime::currentMSecsSinceEpoch() % 1000;
        QThread::msleep((1500 - intoSecond) % 1000);
        std::vector<TSample> before;
        for (const qint64 pid : pids)
            before.push_back(Sample(pid));
        QThread::sleep(seconds);
        std::printf("%s\n", title);
        const TFigure base = Compare(before[0], Sample(pids[0]), seconds);
        std::printf("  %-28s %6.2f wake-ups/s  %6.3f %% CPU  (baseline)\n",
                    "bare Qt program, 1 window", base.WakeupsPerS, base.CpuPercent);
        for (size_t i = 0; i < desks.size(); ++i) {
            if (desks[i]->Run->process().state() == QProcess::NotRunning) {
                std::printf("  %-28s ENDED\n", qPrintable(desks[i]->Name));
                continue;
            }
            const TFigure f = Compare(before[i + 1], Sample(pids[i + 1]), seconds);
            std::printf("  %-28s %6.2f wake-ups/s  %6.3f %% CPU  %+6.2f wake-ups/s beyond the "
                        "bare program; goal <= +1: %s\n      threads:%s\n",
                        qPrintable(desks[i]->Name), f.WakeupsPerS, f.CpuPercent,
                        f.WakeupsPerS - base.WakeupsPerS,
                        f.WakeupsPerS - base.WakeupsPerS <= 1 ? "met" : "MISSED",
                        qPrintable(f.Threads));
        }
    };
    measure("idle:");
    if (busy) {
        std::atomic<bool> spin{true};
        std::thread loop([&spin] {
            while (spin.load(std::memory_order_relaxed)) {
            }
        });
        measure("with a busy loop on the other core:");
        spin = false;
        loop.join();
    }
    // The homes hand back the environment in the order they took it.
    for (auto it = desks.rbegin(); it != desks.rend(); ++it) {
        (*it)->Run->terminate();
        (*it)->Run->waitFinished(30000);
        it->reset();
    }
    bare.terminate();
    bare.waitFinished(10000);
    return 0;
}
