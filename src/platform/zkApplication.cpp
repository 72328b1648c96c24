#include "zkApplication.h"

#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {
QString TheApplicationTitle;
QtMessageHandler HandlerBeforeStart = nullptr;
QStringList HeldPlatformMessages;

void NoDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // The platform plugin's own complaints come before its fatal end, which ours replaces;
    // when the start succeeds, they are told after all.
    if (context.category && qstrncmp(context.category, "qt.qpa", 6) == 0 && type != QtFatalMsg) {
        HeldPlatformMessages << qFormatLogMessage(type, context, text);
        return;
    }
    if (type == QtFatalMsg) {
        std::fputs("Velquist needs a graphical desktop (X11 or Wayland): no display found\n",
                   stderr);
        const QByteArray display = qgetenv("DISPLAY");
        if (!display.isEmpty())
            std::fprintf(stderr, "(the display \"%s\" could not be opened)\n", display.constData());
        std::fflush(stderr);
        _exit(1);
    }
    if (HandlerBeforeStart)
        HandlerBeforeStart(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}
} // namespace

TDisplayStartGuard::TDisplayStartGuard() {
    HandlerBeforeStart = qInstallMessageHandler(NoDisplayHandler);
}
TDisplayStartGuard::~TDisplayStartGuard() {
    qInstallMessageHandler(HandlerBeforeStart);
    HandlerBeforeStart = nullptr;
    for (const QString& message : std::exchange(HeldPlatformMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString ApplicationTitle() {
    return TheApplicationTitle;
}
void SetApplicationTitle(const QString& title) {
    TheApplicationTitle = title;
}

TZkApplication::TZkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TZkApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    // An exception must never cross Qt's event delivery: report it here instead.
    ReportErrors([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void PaintWithoutSharedImages() {
    // Qt turns shared images off when the variable is set at all, so a user who wants them
    // (large windows on a distant X server) says so with a variable of ours.
    if (qEnvironmentVariableIntValue("VELQUIST_X_SHARED_IMAGES") == 1)
        return;
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}
