// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.resize(210, 80);
    w.show();
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
        [] {
            timespec now = {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            printf("idle-at-ns %lld\n",
                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    return app.exec();
}
