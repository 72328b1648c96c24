// Start-up to the first idle moment: the client (copied into a fresh installation folder,
// private XDG folders) against a bare Qt Widgets program, alternating runs in one process.
// Prints median wall time, processor time, peak resident memory and resident memory at the first
// idle moment of each, the ratios, and the shared libraries (distinct .so files mapped) when
// main() begins and at the first idle moment, with those the client has and the label program
// has not, and the phases each program marks on its main thread (wall and processor time). The
// client runs as a returning user: logged in as DEMO without a question, opening the
// layout its first start (the warm-up run) saved; with --first-start every run is a first start
// (no login stored: the login dialog opens).
//   bench_startup [--xvfb | --xvfb-openbox] [--first-start] [ROUNDS [CLIENT [EARLIER_CLIENT]]]
// With --xvfb the runs are on a private X server (see zkBenchDisplay.h); EARLIER_CLIENT, another
// build of the client (the one before a change), runs in the same rounds for a figure before.
#include "zkBenchDisplay.h"

#include "config/zkSettings.h"
#include "config/zkUserStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
struct TRun {
    double Ms = 0;
    double BeforeMainMs = -1; // spawn to main(), when the program says when main() began
    long MaxRssKiB = 0;
    double CpuMs = 0; // user and system time of the whole run, teardown included
    int Status = 0;
    int LibrariesAtMain = -1, LibrariesAtIdle = -1;  // shared objects loaded, when it says
    long RssAtIdleKiB = -1, AnonymousAtIdleKiB = -1; // resident, and of it not backed by files
    QSet<QByteArray> AtMain, AtIdle; // their paths, when asked for (VELQUIST_LIST_LIBRARIES)
    // The phases the program marks on its main thread, in order: name, wall and processor ms
    // since the mark before (the first since main() began).
    struct TPhase {
        QByteArray Name;
        double WallMs, CpuMs;
    };
    std::vector<TPhase> Phases;
    // Processor time from the start to the last mark: the main thread's and every thread's
    // (-1 when the program does not say).
    double MainCpuAtIdleMs = -1, ProcessCpuAtIdleMs = -1;
};

// The program's "phase NAME WALL_NS CPU_NS [PROCESS_CPU_NS]" lines as the time between each
// mark and the one before it; the last mark's processor times into run.
std::vector<TRun::TPhase> PhasesOf(const QByteArray& text, TRun& run) {
    std::vector<TRun::TPhase> phases;
    qint64 wallBefore = -1, cpuBefore = -1;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if ((fields.size() != 4 && fields.size() != 5) || fields[0] != "phase")
            continue;
        const qint64 wall = fields[2].toLongLong(), cpu = fields[3].toLongLong();
        run.MainCpuAtIdleMs = double(cpu) / 1e6;
        run.ProcessCpuAtIdleMs = fields.size() == 5 ? double(fields[4].toLongLong()) / 1e6 : -1;
        if (wallBefore >= 0)
            phases.push_back(
                {fields[1], double(wall - wallBefore) / 1e6, double(cpu - cpuBefore) / 1e6});
        wallBefore = wall;
        cpuBefore = cpu;
    }
    return phases;
}

// The paths of the program's lines "NAME PATH".
QSet<QByteArray> LinesAfter(const QByteArray& text, const QByteArray& name) {
    QSet<QByteArray> found;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(name + ' '))
            found.insert(line.mid(name.size() + 1));
    return found;
}

// The figure on the program's line "NAME FIGURE"; -1 when it printed none.
qint64 NumberAfter(const QByteArray& text, const QByteArray& name) {
    const qsizetype at = text.indexOf(name + ' ');
    if (at < 0)
        return -1;
    const qsizetype from = at + name.size() + 1;
    const qsizetype end = text.indexOf('\n', from);
    return text.mid(from, end < 0 ? -1 : end - from).trimmed().toLongLong();
}

qint64 monotonicNs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Spawns the program and reads the moment of its first idle from its output ("idle-at-ns N",
// the same monotonic clock), so the time is start-up only, not the process's teardown.
TRun runOnce(const QString& program) {
    const QByteArray path = program.toLocal8Bit();
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    TRun run;
    int out[2];
    if (pipe(out) != 0) {
        run.Status = -1;
        return run;
    }
    // The offscreen platform chatters on stderr; keep the figures readable.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const qint64 started = monotonicNs();
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        run.Status = -1;
        return run;
    }
    QByteArray text;
    char buf[256];
    ssize_t n = 0;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, n);
    close(out[0]);
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    const qint64 idleAt = NumberAfter(text, "idle-at-ns");
    if (idleAt < 0) {
        run.Status = -2;
        return run;
    }
    run.Ms = double(idleAt - started) / 1e6;
    if (const qint64 mainAt = NumberAfter(text, "main-at-ns"); mainAt >= 0)
        run.BeforeMainMs = double(mainAt - started) / 1e6;
    run.LibrariesAtMain = int(NumberAfter(text, "libraries-at-main"));
    run.LibrariesAtIdle = int(NumberAfter(text, "libraries-at-idle"));
    run.RssAtIdleKiB = long(NumberAfter(text, "rss-at-idle-kib"));
    run.AnonymousAtIdleKiB = long(NumberAfter(text, "anonymous-at-idle-kib"));
    run.Phases = PhasesOf(text, run);
    run.AtMain = LinesAfter(text, "library-at-main");
    run.AtIdle = LinesAfter(text, "library-at-idle");
    run.MaxRssKiB = usage.ru_maxrss;
    run.CpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.Status = status;
    return run;
}

template <typename T> T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    if (const int code = zkBenchDisplay::RunOnDisplay(argc, argv); code >= 0)
        return code;
    const bool firstStart = argc > 1 && std::strcmp(argv[1], "--first-start") == 0;
    if (firstStart) {
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        --argc;
    }
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QString bin = QStringLiteral(VELQUIST_BIN_DIR);
    QTemporaryDir home, install, earlierInstall;
    const QString client = install.filePath(QStringLiteral("velquist"));
    const QString earlier = earlierInstall.filePath(QStringLiteral("velquist"));
    const bool withEarlier = argc > 3;
    // Each client in an installation folder of its own, as a user installs it.
    const auto installClient = [&bin](const QString& from, const QTemporaryDir& folder) {
        CopyClientInto(from, folder.path());
        QFile::copy(bin + QStringLiteral("/velquist.ico"), folder.filePath("velquist.ico"));
        QFile::copy(bin + QStringLiteral("/splash.bmp"), folder.filePath("splash.bmp"));
    };
    installClient(argc > 2 ? QString::fromLocal8Bit(argv[2]) : bin + QStringLiteral("/velquist"),
                  install);
    if (withEarlier)
        installClient(QString::fromLocal8Bit(argv[3]), earlierInstall);
    for (const char* sub : {"config", "data", "run"})
        QDir().mkpath(home.filePath(QString::fromLatin1(sub)));
    // The runtime folder (the instance lock, the sockets) is a memory file system on a
    // desktop (/run/user/<uid>); on the disk, the lock's flush would count where a user
    // never waits for it.
    QTemporaryDir runtimeInMemory(QStringLiteral("/dev/shm/velquist-bench-XXXXXX"));
    const QString runtime =
        runtimeInMemory.isValid() ? runtimeInMemory.path() : home.filePath("run");
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VELQUIST_EXIT_WHEN_IDLE", "1");
    // No dialog may hold a run up; answers are Cancel and are echoed nowhere we read.
    qputenv("VELQUIST_SCRIPTED_PROMPTS", "");

    const QString bare = bin + QStringLiteral("/bench/bench_bare_window");
    struct TSeries {
        std::vector<double> Ms, CpuMs, BeforeMainMs, MainCpuAtIdle, ProcessCpuAtIdle;
        std::vector<long> RssKiB, RssAtIdle, AnonymousAtIdle;
        int LibrariesAtMain = -1, LibrariesAtIdle = -1;
        std::vector<QByteArray> PhaseNames;
        QHash<QByteArray, std::vector<double>> PhaseWallMs, PhaseCpuMs;
        void Add(const TRun& run) {
            for (const TRun::TPhase& phase : run.Phases) {
                if (!PhaseWallMs.contains(phase.Name))
                    PhaseNames.push_back(phase.Name);
                PhaseWallMs[phase.Name].push_back(phase.WallMs);
                PhaseCpuMs[phase.Name].push_back(phase.CpuMs);
            }
            Ms.push_back(run.Ms);
            CpuMs.push_back(run.CpuMs);
            BeforeMainMs.push_back(run.BeforeMainMs);
            MainCpuAtIdle.push_back(run.MainCpuAtIdleMs);
            ProcessCpuAtIdle.push_back(run.ProcessCpuAtIdleMs);
            RssKiB.push_back(run.MaxRssKiB);
            RssAtIdle.push_back(run.RssAtIdleKiB);
            AnonymousAtIdle.push_back(run.AnonymousAtIdleKiB);
            LibrariesAtMain = run.LibrariesAtMain;
            LibrariesAtIdle = run.LibrariesAtIdle;
        }
    };
    TSeries bareRuns, labelRuns, clientRuns, earlierRuns;
    const auto runLabel = [&bare] {
        qputenv("BARE_WITH_LABEL", "1");
        const TRun run = runOnce(bare);
        qunsetenv("BARE_WITH_LABEL");
        return run;
    };
    const QString settingsKey = SettingsKeyPath() + QStringLiteral("\\Settings");
    if (!firstStart)
        WriteStringValue(TSettingsStore::Registry(), settingsKey, QStringLiteral("UserName"),
                         QStringLiteral("DEMO"));
    TUserStore::ResetInstance();
    // One warm-up each so all start from a warm page cache; for a returning user, it is the first
    // start, which saves the layout the later runs open.
    runOnce(bare);
    runOnce(client);
    if (withEarlier)
        runOnce(earlier);
    if (!firstStart)
        WriteBoolValue(TSettingsStore::Registry(), settingsKey, QStringLiteral("LoadOnStart"),
                       true);
    TUserStore::ResetInstance();
    for (int i = 0; i < rounds; ++i) {
        const TRun b = runOnce(bare);
        const TRun c = runOnce(client);
        const TRun l = runLabel();
        const TRun e = withEarlier ? runOnce(earlier) : TRun();
        if (b.Status != 0 || c.Status != 0 || l.Status != 0 || e.Status != 0) {
            fprintf(stderr, "a run failed (bare %d, client %d, label %d, earlier %d)\n", b.Status,
                    c.Status, l.Status, e.Status);
            return 1;
        }
        bareRuns.Add(b);
        clientRuns.Add(c);
        labelRuns.Add(l);
        if (withEarlier)
            earlierRuns.Add(e);
    }
    // Once more each, naming the libraries.
    qputenv("VELQUIST_LIST_LIBRARIES", "1");
    const TRun labelListed = runLabel(), clientListed = runOnce(client);
    const TRun earlierListed = withEarlier ? runOnce(earlier) : TRun();
    qunsetenv("VELQUIST_LIST_LIBRARIES");
    const double bm = median(bareRuns.Ms), lm = median(labelRuns.Ms), lc = median(labelRuns.CpuMs);
    const long br = median(bareRuns.RssKiB);
    printf("start-up to first idle, %d rounds (median), %s; runtime folder %s\n", rounds,
           firstStart ? "first start (login dialog)" : "returning user (DEMO, saved layout)",
           qPrintable(runtime));
    printf("  bare Qt window : %8.1f ms  %7.1f MiB  processor %.1f ms\n", bm, br / 1024.0,
           median(bareRuns.CpuMs));
    printf("  bare window with one text label (the baseline): %.1f ms  processor %.1f ms\n"
           "    spawn to main(): %.1f ms; libraries loaded at main() %d, at first idle %d; "
           "resident at first idle %.1f MiB, of it anonymous %.1f MiB\n",
           lm, lc, median(labelRuns.BeforeMainMs), labelRuns.LibrariesAtMain,
           labelRuns.LibrariesAtIdle, median(labelRuns.RssAtIdle) / 1024.0,
           median(labelRuns.AnonymousAtIdle) / 1024.0);
    // Where a program's main thread spent its start-up, when it marks its phases.
    const auto phases = [](const TSeries& s) {
        if (s.PhaseNames.empty())
            return;
        printf("    main thread by phase (median ms, wall / processor):");
        for (const QByteArray& name : s.PhaseNames)
            printf(" %s %.1f / %.1f;", name.constData(), median(s.PhaseWallMs.value(name)),
                   median(s.PhaseCpuMs.value(name)));
        printf("\n");
    };
    phases(labelRuns);
    // With a core taken, what ran beside the main thread no longer overlaps it: the wall time
    // then follows the whole process's processor time, not the main thread's.
    const auto processor = [&labelRuns](const TSeries& s) {
        if (s.ProcessCpuAtIdle.empty() || median(s.ProcessCpuAtIdle) < 0)
            return;
        const double main = median(s.MainCpuAtIdle), all = median(s.ProcessCpuAtIdle);
        printf(
            "    processor from spawn to first idle (median ms): main thread %.1f, other threads "
            "%.1f, whole process %.1f",
            main, all - main, all);
        if (&s != &labelRuns && !labelRuns.ProcessCpuAtIdle.empty())
            printf(" (%.2fx the label's whole process, main thread %.2fx)",
                   all / median(labelRuns.ProcessCpuAtIdle),
                   main / median(labelRuns.MainCpuAtIdle));
        printf("\n");
    };
    processor(labelRuns);
    // What the client has loaded that the label program has not.
    const auto extra = [](const char* when, const QSet<QByteArray>& client,
                          const QSet<QByteArray>& label) {
        QList<QByteArray> names = (client - label).values();
        std::sort(names.begin(), names.end());
        printf("    at %s, not in the label program (%lld):", when, qsizetype(names.size()));
        for (const QByteArray& name : names)
            printf(" %s", name.mid(name.lastIndexOf('/') + 1).constData());
        printf("\n");
    };
    const auto report = [&](const char* name, const TSeries& s, const TRun& listed) {
        const double m = median(s.Ms), c = median(s.CpuMs);
        const long r = median(s.RssKiB);
        printf("  %s: %8.1f ms  %7.1f MiB  processor (whole run, exit included) %.1f ms\n", name, m,
               r / 1024.0, c);
        printf("    spawn to main(): %.1f ms (%.2fx the label's); libraries loaded at main() %d, "
               "at first idle %d\n",
               median(s.BeforeMainMs), median(s.BeforeMainMs) / median(labelRuns.BeforeMainMs),
               s.LibrariesAtMain, s.LibrariesAtIdle);
        printf(
            "    vs the label: %.2fx wall, %.2fx processor (goal: at most 1.3x wall); vs the bare "
            "window: %.2fx wall, %.2fx memory\n",
            m / lm, c / lc, m / bm, double(r) / double(br));
        printf("    resident at first idle %.1f MiB (%+.1f MiB over the bare window's peak, %+.1f "
               "over the label's at idle)\n",
               median(s.RssAtIdle) / 1024.0, (median(s.RssAtIdle) - br) / 1024.0,
               (median(s.RssAtIdle) - median(labelRuns.RssAtIdle)) / 1024.0);
        // Library pages are shared with every other program using them; what the process has
        // for itself alone is its anonymous memory.
        printf(
            "    anonymous (heap, stacks, not file pages) at first idle %.1f MiB, %+.1f MiB over "
            "the label's\n",
            median(s.AnonymousAtIdle) / 1024.0,
            (median(s.AnonymousAtIdle) - median(labelRuns.AnonymousAtIdle)) / 1024.0);
        phases(s);
        processor(s);
        extra("main()", listed.AtMain, labelListed.AtMain);
        extra("first idle", listed.AtIdle, labelListed.AtIdle);
    };
    report("velquist", clientRuns, clientListed);
    if (withEarlier)
        report("earlier velquist", earlierRuns, earlierListed);
    return 0;
}
