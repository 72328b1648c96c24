// Start-up to the first idle moment: the client (copied into a fresh installation folder,
// private XDG folders) against a bare Qt Widgets program, alternating runs in one process.
// Prints median wall time, processor time and peak resident memory of each, and the ratios.
//   bench_startup [ROUNDS [CLIENT]]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
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
};

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
    const qsizetype at = text.indexOf("idle-at-ns ");
    if (at < 0) {
        run.Status = -2;
        return run;
    }
    const qint64 idleAt = text.mid(at + 11).trimmed().toLongLong();
    run.Ms = double(idleAt - started) / 1e6;
    const qsizetype mainPos = text.indexOf("main-at-ns ");
    if (mainPos >= 0)
        run.BeforeMainMs =
            double(text.mid(mainPos + 11, 24).trimmed().split('\n').first().toLongLong() -
                   started) /
            1e6;
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
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QString bin = QStringLiteral(VELQUIST_BIN_DIR);
    QTemporaryDir home, install;
    const QString client = install.filePath(QStringLiteral("velquist"));
    // A second argument runs another build of the client (an older one, for a figure before a
    // change).
    QFile::copy(argc > 2 ? QString::fromLocal8Bit(argv[2]) : bin + QStringLiteral("/velquist"),
                client);
    QFile::copy(bin + QStringLiteral("/velquist.ico"), install.filePath("velquist.ico"));
    QFile::copy(bin + QStringLiteral("/splash.bmp"), install.filePath("splash.bmp"));
    QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
    std::vector<double> clientMs, bareMs, clientBeforeMain, labelMs;
    std::vector<long> clientRss, bareRss;
    // Processor time, which a busy machine stretches far less than the wall time.
    std::vector<double> clientCpu, bareCpu, labelCpu;
    // One warm-up each so both start from a warm page cache.
    runOnce(bare);
    runOnce(client);
    for (int i = 0; i < rounds; ++i) {
        const TRun b = runOnce(bare);
        const TRun c = runOnce(client);
        qputenv("BARE_WITH_LABEL", "1");
        const TRun l = runOnce(bare);
        qunsetenv("BARE_WITH_LABEL");
        labelMs.push_back(l.Ms);
        labelCpu.push_back(l.CpuMs);
        clientCpu.push_back(c.CpuMs);
        bareCpu.push_back(b.CpuMs);
        if (b.Status != 0 || c.Status != 0) {
            fprintf(stderr, "a run failed (bare %d, client %d)\n", b.Status, c.Status);
            return 1;
        }
        bareMs.push_back(b.Ms);
        clientMs.push_back(c.Ms);
        clientBeforeMain.push_back(c.BeforeMainMs);
        bareRss.push_back(b.MaxRssKiB);
        clientRss.push_back(c.MaxRssKiB);
    }
    const double bm = median(bareMs), cm = median(clientMs);
    const long br = median(bareRss), cr = median(clientRss);
    printf("start-up to first idle, %d rounds (median); runtime folder %s\n", rounds,
           qPrintable(runtime));
    printf("  bare Qt window : %8.1f ms  %7.1f MiB\n", bm, br / 1024.0);
    printf("  velquist       : %8.1f ms  %7.1f MiB\n", cm, cr / 1024.0);
    printf("  bare window with one text label: %.1f ms (fonts loaded)\n", median(labelMs));
    printf("  velquist, spawn to main(): %.1f ms (loading and relocating its libraries)\n",
           median(clientBeforeMain));
    printf("  ratio          : %8.2fx     %7.2fx   (goal: time at most 1.5x)\n", cm / bm,
           double(cr) / double(br));
    printf("  processor time of a whole run (user + system, exit included): bare %.1f ms, with "
           "label %.1f ms, velquist %.1f ms (%.2fx the label)\n",
           median(bareCpu), median(labelCpu), median(clientCpu),
           median(clientCpu) / median(labelCpu));
    printf("  velquist / bare window with one text label: %.2fx wall\n", cm / median(labelMs));
    return 0;
}
