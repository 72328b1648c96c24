// Baseline for the start-up benchmark: a bare Qt Widgets program that shows one window and
// quits at its first idle moment.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.resize(210, 80);
    w.show();
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    return app.exec();
}
