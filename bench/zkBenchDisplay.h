#pragma once

// Running a benchmark on a real X server: with "--xvfb" (no window manager) or "--xvfb-openbox"
// as its first argument, the benchmark starts a private Xvfb on a free display (and openbox on
// it when asked) and a private D-Bus session bus, runs itself again on that display with the
// xcb platform, passes the child's output through, and stops everything it started when the
// child ends, however it ends. Baselines run in the child too: the same platform, the same run.
//
//   int main(int argc, char** argv) {
//       if (const int code = zkBenchDisplay::RunOnDisplay(argc, argv); code >= 0)
//           return code;
//       ... // the benchmark itself, on whatever QT_QPA_PLATFORM says (offscreen by default)

#include "zkClientProcess.h"
#include "zkTestDesktop.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace zkBenchDisplay {

// Set by SIGINT or SIGTERM: the run is cut short, and what it started is still stopped.
inline volatile std::sig_atomic_t Interrupted = 0;

// The exit code of the run on the display, or -1 when the benchmark is to run here (no option
// given, or this is the child already). The option is taken out of argv either way.
inline int RunOnDisplay(int& argc, char** argv) {
    if (argc < 2)
        return -1;
    const bool bare = std::strcmp(argv[1], "--xvfb") == 0;
    const bool openbox = std::strcmp(argv[1], "--xvfb-openbox") == 0;
    if (!bare && !openbox)
        return -1;
    for (int i = 1; i + 1 < argc; ++i)
        argv[i] = argv[i + 1];
    --argc;

    int code = 1;
    {
        QCoreApplication app(argc, argv);
        TSessionBus bus;
        TDesktop desktop;
        QString failure = bus.Start();
        if (failure.isEmpty()) {
            // The window manager and the child both use the private bus, never an autolaunched
            // one that would outlive the benchmark.
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address.toLocal8Bit());
            failure = desktop.Start(openbox);
        }
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "cannot run on Xvfb: %s\n", qPrintable(failure));
            return 1;
        }
        std::printf("platform: xcb on Xvfb %s, %s\n", qPrintable(desktop.Display),
                    openbox ? "openbox" : "no window manager");
        std::fflush(stdout);

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), desktop.Display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        std::signal(SIGINT, [](int) { Interrupted = 1; });
        std::signal(SIGTERM, [](int) { Interrupted = 1; });
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        child.start(QCoreApplication::applicationFilePath(), arguments);
        while (!Interrupted && child.state() != QProcess::NotRunning)
            child.waitForFinished(200);
        if (Interrupted || child.exitStatus() != QProcess::NormalExit) {
            std::fprintf(stderr, "the benchmark on Xvfb did not end normally\n");
            StopProcess(child, 3000);
        } else {
            code = child.exitCode();
        }
    } // the desktop and the bus stop here
    return code;
}

} // namespace zkBenchDisplay
