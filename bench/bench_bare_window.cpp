// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
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
