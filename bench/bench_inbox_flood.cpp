// The client under a flood from a sender with the token, whole process: the real client
// (offscreen, private home, history on) takes alerts on its webhook over loopback; each case
// starts a fresh client. Printed per case: the client's resident memory at idle (the baseline),
// its peak (VmHWM) and at the end; the longest answer to a probe request sent every 10 ms on
// its own connection (an upper bound of the client's longest event-loop stall: the probe is
// answered on the same loop), against the same probe at idle, and the longest the client's
// user-interface thread ran while one probe waited (the stall without the time other programs
// kept the client from a core); and what the senders were told.
//
//   bench_inbox_flood [--client PATH] [--case NAME]... [--seconds S] [--soak-minutes M]
//                     [--history-days D]
// Cases:
//   requests  S seconds (20) of 10,000-alert requests on 4 connections, sent again at once
//             whatever the answer
//   big       20 strategies x 5,000 alerts with 4 KB descriptions, ~1 MB requests on 4
//             connections, each resent after Retry-After until taken (or 120 s pass)
//   windows   one request naming 500 new strategies; the windows in the saved layout
//   soak      500 alerts/s into 10 windows for M minutes (10); memory every 10 s
// Without --case: requests, big and windows. --client runs another build (a figure before a
// change); --history-days 0 runs the clients without the history (its share of the figures).
#include "config/zkInboxSettings.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "history/zkHistorySettings.h"
#include "shell/zkLayouts.h"
#include "zkBenchHttp.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace zkBenchHttp;

// VmRSS or VmHWM of a process, in MB; 0 when it is gone.
double MemoryMb(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Nanoseconds the process's main (user-interface) thread has run, from the scheduler's
// statistics; 0 when they cannot be read.
long long MainThreadCpuNs(qint64 pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/task/%lld/schedstat", (long long)pid,
                  (long long)pid);
    FILE* f = std::fopen(path, "r");
    if (!f)
        return 0;
    long long ns = 0;
    if (std::fscanf(f, "%lld", &ns) != 1)
        ns = 0;
    std::fclose(f);
    return ns;
}

// A probe on its own keep-alive connection, every 10 ms: a request with the token whose alert
// is refused (400), so it is answered on the event loop without adding alerts. For each it
// keeps the wait and how long the client's user-interface thread ran meanwhile: on a machine
// whose cores are busy with other programs the wait also holds the time the client was not
// given a core, which the second leaves out.
class TProbe {
public:
    TProbe(quint16 port, qint64 pid) : Port(port), Pid(pid) {}
    ~TProbe() { Stop(); }
    void Start() {
        Running = true;
        Thread = std::thread([this] {
            TConnection c(Port);
            const std::string request = Post("{}");
            const long long begun = NowNs();
            long long due = begun;
            while (Running) {
                due += 10000000;
                SleepUntilNs(due);
                const long long cpu = MainThreadCpuNs(Pid);
                const long long start = NowNs();
                c.Write(request);
                const int status = c.ReadResponse();
                const double ms = double(NowNs() - start) / 1e6;
                const double ranMs = double(MainThreadCpuNs(Pid) - cpu) / 1e6;
                std::lock_guard<std::mutex> lock(Mutex);
                if (status != 400)
                    ++Failed;
                Ms.push_back(ms);
                RanMs.push_back(std::min(ms, ranMs));
                if (RanMs.back() > WorstRanMs) {
                    WorstRanMs = RanMs.back();
                    WorstRanAtS = double(start - begun) / 1e9;
                }
                if (due < NowNs())
                    due = NowNs();
            }
        });
    }
    void Stop() {
        Running = false;
        if (Thread.joinable())
            Thread.join();
    }
    // The answers' times since the last call, and how long the client ran during each.
    std::vector<double> Take(std::vector<double>* ranMs = nullptr) {
        std::lock_guard<std::mutex> lock(Mutex);
        if (ranMs)
            *ranMs = std::exchange(RanMs, {});
        else
            RanMs.clear();
        WorstRanMs = 0;
        return std::exchange(Ms, {});
    }
    // When the longest run of the client since the last Take came, in seconds from the start.
    double WorstRanAt() {
        std::lock_guard<std::mutex> lock(Mutex);
        return WorstRanAtS;
    }
    int Failed = 0;

private:
    quint16 Port;
    qint64 Pid;
    std::atomic<bool> Running{false};
    std::thread Thread;
    std::mutex Mutex;
    std::vector<double> Ms, RanMs;
    double WorstRanMs = 0, WorstRanAtS = 0;
};

double Max(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// One client as a user sets it up with the inbox on; its layout is saved when it ends.
struct TClient {
    TTestHome Home;
    QTemporaryDir Inst;
    QString Layout;
    quint16 Port = FreePort();
    std::unique_ptr<TClientRun> Run;
    qint64 Pid = 0;
    static inline int HistoryDays = -1; // -1: the default

    bool Start(const QString& client) {
        QDir().mkpath(Inst.filePath(QStringLiteral("SavedWindows")));
        if (!QFile::copy(client, Inst.filePath(QStringLiteral("velquist"))))
            return false;
        Layout = Inst.filePath(QStringLiteral("SavedWindows/desk.zkl"));
        StoreDeskChoices(Layout, false);
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Port = Port;
        inbox.Token = QString::fromLatin1(Token);
        WriteInboxSettings(TSettingsStore::Registry(), inbox);
        if (HistoryDays >= 0)
            WriteHistoryDays(TSettingsStore::Registry(), HistoryDays);
        TUserStore::ResetInstance();
        Run = std::make_unique<TClientRun>(Inst.filePath(QStringLiteral("velquist")), QStringList(),
                                           Inst.path());
        if (!Run->waitStarted() || !WaitListening(Port, *Run))
            return false;
        Pid = Run->process().processId();
        return true;
    }
    bool Alive() { return Run->process().state() != QProcess::NotRunning; }
    // Ends it as the session's end would; the windows its layout kept (-1: none saved).
    int Stop() {
        Run->terminate();
        Run->waitFinished(120000);
        zkIni::ClearCache();
        return ReadIntegerValue(TSettingsStore::IniFile(Layout), LayoutKeyPath(),
                                QStringLiteral("AlertCount"), -1);
    }
};

struct TStatuses {
    std::mutex Mutex;
    std::map<int, long long> Count;
    void Add(int status) {
        std::lock_guard<std::mutex> lock(Mutex);
        ++Count[status];
    }
    void Print() {
        std::printf("  answers:");
        for (const auto& [status, n] : Count)
            std::printf(" %d x%lld", status, n);
        std::printf("\n");
    }
};

struct TFigures {
    double IdleMb = 0, PeakMb = 0, EndMb = 0, IdleProbeMs = 0, FloodProbeMs = 0;
    double FloodProbeP99Ms = 0, FloodProbeRanMs = 0, IdleProbeRanMs = 0, FloodRanAtS = 0;
    size_t FloodProbes = 0, FloodProbesOver100 = 0;
    int Windows = -1;
    bool Survived = true;
};

void PrintFigures(const char* name, const TFigures& f) {
    std::printf("%s\n", name);
    std::printf("  resident memory: idle %.0f MB (baseline), peak %.0f MB (%.1fx), end %.0f MB "
                "(%.1fx); goal peak <= 400 MB: %s\n",
                f.IdleMb, f.PeakMb, f.IdleMb > 0 ? f.PeakMb / f.IdleMb : 0, f.EndMb,
                f.IdleMb > 0 ? f.EndMb / f.IdleMb : 0, f.PeakMb <= 400 ? "met" : "MISSED");
    std::printf("  longest probe answer: idle %.1f ms (baseline), flood and 5 s after %.1f ms "
                "(%.0fx); goal <= 100 ms: %s\n",
                f.IdleProbeMs, f.FloodProbeMs,
                f.IdleProbeMs > 0 ? f.FloodProbeMs / f.IdleProbeMs : 0,
                f.FloodProbeMs <= 100 ? "met" : "MISSED");
    std::printf("  probe answers then: p99 %.1f ms, %zu of %zu over 100 ms\n", f.FloodProbeP99Ms,
                f.FloodProbesOver100, f.FloodProbes);
    std::printf("  longest the client's user-interface thread ran while a probe waited: idle "
                "%.1f ms (baseline), flood and after %.1f ms (%.1f s into the flood); goal <= "
                "100 ms: %s\n",
                f.IdleProbeRanMs, f.FloodProbeRanMs, f.FloodRanAtS,
                f.FloodProbeRanMs <= 100 ? "met" : "MISSED");
    if (f.Windows >= 0)
        std::printf("  windows in the saved layout: %d\n", f.Windows);
    if (!f.Survived)
        std::printf("  THE CLIENT ENDED DURING THE FLOOD\n");
    std::fflush(stdout);
}

// Starts a client, probes it idle for 2 s, runs the flood (senders on their own threads,
// joined by flood()), probes on for 5 s while it settles, ends it.
template <typename Flood> bool RunCase(const char* name, const QString& client, Flood flood) {
    TClient c;
    if (!c.Start(client)) {
        std::fprintf(stderr, "%s: the client did not start: %s\n", name,
                     c.Run ? c.Run->stdErr().constData() : "");
        return false;
    }
    TFigures f;
    TProbe probe(c.Port, c.Pid);
    probe.Start();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> ran;
    f.IdleProbeMs = Max(probe.Take(&ran));
    f.IdleProbeRanMs = Max(ran);
    f.IdleMb = MemoryMb(c.Pid, "VmRSS:");
    flood(c);
    // A probe that waited through the flood's end is answered after it: the 5 s after count.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    f.FloodRanAtS = probe.WorstRanAt() - 2;
    const std::vector<double> during = probe.Take(&ran);
    f.FloodProbeRanMs = Max(ran);
    f.FloodProbeMs = Max(during);
    f.FloodProbeP99Ms = Percentile(during, 0.99);
    f.FloodProbes = during.size();
    f.FloodProbesOver100 =
        size_t(std::count_if(during.begin(), during.end(), [](double ms) { return ms > 100; }));
    f.PeakMb = MemoryMb(c.Pid, "VmHWM:");
    f.EndMb = MemoryMb(c.Pid, "VmRSS:");
    f.Survived = c.Alive();
    probe.Stop();
    const int windows = c.Stop();
    if (std::string(name).find("windows") != std::string::npos)
        f.Windows = windows;
    PrintFigures(name, f);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString client = QStringLiteral(VELQUIST_BIN_DIR "/velquist");
    QStringList cases;
    int seconds = 20;
    int soakMinutes = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--client"))
            client = args[i + 1];
        else if (args[i] == QLatin1String("--case"))
            cases << args[i + 1];
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--soak-minutes"))
            soakMinutes = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--history-days"))
            TClient::HistoryDays = args[i + 1].toInt();
    }
    if (cases.isEmpty())
        cases = {"requests", "big", "windows"};
    std::printf("client %s\n", qPrintable(client));

    if (cases.contains("requests")) {
        TStatuses statuses;
        RunCase("requests: 10,000-alert requests on 4 connections", client, [&](TClient& c) {
            const long long end = NowNs() + seconds * 1000000000LL;
            std::vector<std::thread> senders;
            for (int t = 0; t < 4; ++t)
                senders.emplace_back([&, t] {
                    TConnection s(c.Port);
                    long long n = t * 1000000000LL;
                    while (NowNs() < end) {
                        statuses.Add(s.Send(Post(Batch(n, 10000, 20))).Status);
                        n += 10000;
                    }
                });
            for (std::thread& t : senders)
                t.join();
        });
        statuses.Print();
    }
    if (cases.contains("big")) {
        TStatuses statuses;
        std::atomic<long long> taken{0};
        long long floodMs = 0;
        RunCase("big: 20 strategies x 5,000 alerts, 4 KB descriptions", client, [&](TClient& c) {
            constexpr int Strategies = 20, PerStrategy = 5000, PerRequest = 240;
            constexpr long long Total = Strategies * PerStrategy;
            std::atomic<long long> next{0};
            const long long start = NowNs();
            const long long end = start + 120 * 1000000000LL;
            std::vector<std::thread> senders;
            for (int t = 0; t < 4; ++t)
                senders.emplace_back([&] {
                    TConnection s(c.Port);
                    for (;;) {
                        const long long first = next.fetch_add(PerRequest);
                        if (first >= Total)
                            return;
                        const int count = int(std::min<long long>(PerRequest, Total - first));
                        const std::string request = Post(Batch(first, count, 4000, Strategies));
                        for (;;) {
                            const TConnection::TAnswer a = s.Send(request);
                            statuses.Add(a.Status);
                            if (a.Status == 202) {
                                taken += count;
                                break;
                            }
                            if (NowNs() > end)
                                return;
                            std::this_thread::sleep_for(std::chrono::milliseconds(
                                a.Status == 429 ? 1000 * a.RetryAfter : 100));
                        }
                    }
                });
            for (std::thread& t : senders)
                t.join();
            floodMs = (NowNs() - start) / 1000000;
        });
        statuses.Print();
        std::printf("  alerts taken %lld of 100000 in %.1f s\n", taken.load(),
                    double(floodMs) / 1000.0);
    }
    if (cases.contains("windows")) {
        TStatuses statuses;
        RunCase("windows: one request naming 500 new strategies", client, [&](TClient& c) {
            TConnection s(c.Port);
            statuses.Add(s.Send(Post(Batch(0, 500, 20, 500, 1000))).Status);
            // The windows open after the answer: a probe stalled by them shows it.
            std::this_thread::sleep_for(std::chrono::seconds(10));
        });
        statuses.Print();
    }
    if (cases.contains("soak")) {
        TStatuses statuses;
        RunCase("soak: 500 alerts/s into 10 windows", client, [&](TClient& c) {
            TConnection s(c.Port);
            const long long start = NowNs();
            long long due = start, n = 0, nextSample = start;
            const long long end = start + soakMinutes * 60 * 1000000000LL;
            std::printf("  minute  RSS MB  (anon, file, shmem)\n");
            while (due < end) {
                if (due >= nextSample) {
                    std::printf("  %6.2f  %6.1f  (%.1f, %.1f, %.1f)\n", double(due - start) / 60e9,
                                MemoryMb(c.Pid, "VmRSS:"), MemoryMb(c.Pid, "RssAnon:"),
                                MemoryMb(c.Pid, "RssFile:"), MemoryMb(c.Pid, "RssShmem:"));
                    std::fflush(stdout);
                    nextSample += 10 * 1000000000LL;
                }
                due += 20000000; // 10 alerts every 20 ms
                SleepUntilNs(due);
                statuses.Add(s.Send(Post(Batch(n, 10, 40, 10))).Status);
                n += 10;
            }
            std::printf("  %6.2f  %6.1f\n", double(NowNs() - start) / 60e9,
                        MemoryMb(c.Pid, "VmRSS:"));
        });
        statuses.Print();
    }
    return 0;
}
