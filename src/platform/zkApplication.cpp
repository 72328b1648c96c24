#include "zkApplication.h"

TZkApplication::TZkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TZkApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    // An exception must never cross Qt's event delivery: report it here instead.
    ReportErrors([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
