// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include "platform/zkProcessFigures.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    timespec mainAt = {};
    clock_gettime(CLOCK_MONOTONIC, &mainAt);
    const bool list = std::getenv("VELQUIST_LIST_LIBRARIES") != nullptr;
    const int librariesAtMain = MappedLibraries("main", list);
    EnableStartupPhases();
    QApplication app(argc, argv);
    MarkStartupPhase("application");
    QWidget w;
    w.resize(210, 80);
    // A second baseline: the same window with one line of text, which loads the fonts.
    if (qEnvironmentVariableIsSet("BARE_WITH_LABEL")) {
        auto* label = new QLabel(QStringLiteral("Connected as \"DEMO\""), &w);
        label->move(4, 4);
    }
    w.show();
    MarkStartupPhase("window-shown");
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
        [librariesAtMain, mainAt, list] {
            timespec now = {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            MarkStartupPhase("idle");
            PrintStartupPhases();
            printf("main-at-ns %lld\nidle-at-ns %lld\nlibraries-at-main %d\n"
                   "libraries-at-idle %d\nrss-at-idle-kib %ld\nanonymous-at-idle-kib %ld\n",
                   static_cast<long long>(mainAt.tv_sec) * 1000000000LL + mainAt.tv_nsec,
                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, librariesAtMain,
                   MappedLibraries("idle", list), ResidentKiB(), ResidentKiB("RssAnon"));
            fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    return app.exec();
}
