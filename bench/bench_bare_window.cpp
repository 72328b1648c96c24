// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <link.h>

namespace {
// The shared libraries in the process, as the client counts them.
int LoadedLibraries() {
    int count = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && info->dlpi_name[0])
                ++*static_cast<int*>(data);
            return 0;
        },
        &count);
    return count;
}
} // namespace

int main(int argc, char** argv) {
    timespec mainAt = {};
    clock_gettime(CLOCK_MONOTONIC, &mainAt);
    const int librariesAtMain = LoadedLibraries();
    QApplication app(argc, argv);
    QWidget w;
    w.resize(210, 80);
    // A second baseline: the same window with one line of text, which loads the fonts.
    if (qEnvironmentVariableIsSet("BARE_WITH_LABEL")) {
        auto* label = new QLabel(QStringLiteral("Connected as \"DEMO\""), &w);
        label->move(4, 4);
    }
    w.show();
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
        [librariesAtMain, mainAt] {
            timespec now = {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            printf("main-at-ns %lld\nidle-at-ns %lld\nlibraries-at-main %d\n"
                   "libraries-at-idle %d\n",
                   static_cast<long long>(mainAt.tv_sec) * 1000000000LL + mainAt.tv_nsec,
                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, librariesAtMain,
                   LoadedLibraries());
            fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    return app.exec();
}
