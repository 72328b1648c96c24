#pragma once

#include <QApplication>

// The application object. Its notify is the general error report: an error of the program's
// hierarchy raised in any event handler, timer tick or command ends that action and is shown
// in a message box; the program goes on.
class TZkApplication : public QApplication {
    Q_OBJECT
public:
    TZkApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Held while the application object is made: when no platform can be started (no X11 or
// Wayland display, or one that cannot be opened), says so in one line and ends the program with
// exit code 1, instead of Qt's plugin text and an abort.
class TDisplayStartGuard {
public:
    TDisplayStartGuard();
    ~TDisplayStartGuard();
    TDisplayStartGuard(const TDisplayStartGuard&) = delete;
    TDisplayStartGuard& operator=(const TDisplayStartGuard&) = delete;
};

// Called before the application object is made. On X11, Qt hands each painted region to the
// server through shared memory, and before it paints the same pixels again it waits for a round
// trip to the server (it cannot tell when the server has read them): a clock repainted every
// second woke an idle program twice more each second. Sent as ordinary requests, the pixels
// need no reply. A QT_XCB_NO_MITSHM the user set is left as it is; VELQUIST_X_SHARED_IMAGES=1
// keeps the shared images.
void PaintWithoutSharedImages();

// The application title: the main window's caption and that of the program's message boxes.
// Kept apart from Qt's application display name, which Qt appends to every window's caption.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Runs fn and routes an error it raises to the general error report. For code that runs
// outside an event delivery (start-up steps, the idle hook) but must not let errors escape.
template <typename F> bool ReportErrors(F&& fn);

#include "zkErrors.h"
#include "zkPrompts.h"

template <typename F> bool ReportErrors(F&& fn) {
    try {
        fn();
        return true;
    } catch (const EZkError& e) {
        zkPrompts::ShowErrorReport(e.message());
    } catch (const std::exception& e) {
        zkPrompts::ShowErrorReport(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
