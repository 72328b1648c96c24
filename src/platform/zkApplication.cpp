#include "zkApplication.h"

#include "zkWindowOrder.h"

namespace {
QString TheApplicationTitle;
}

QString ApplicationTitle() {
    return TheApplicationTitle;
}
void SetApplicationTitle(const QString& title) {
    TheApplicationTitle = title;
}

TZkApplication::TZkApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // From the start, so the window ring knows the order of every window.
    zkWindowOrder::Install();
}

bool TZkApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    // An exception must never cross Qt's event delivery: report it here instead.
    ReportErrors([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
