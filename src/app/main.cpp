// Start-up: turns a fresh process into the running client, step by step in a fixed order.
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundSetupForm.h"
#include "config/zkSettings.h"
#include "options/zkOptionsForm.h"
#include "platform/zkApplication.h"
#include "platform/zkInstance.h"
#include "platform/zkPaths.h"
#include "platform/zkPrompts.h"
#include "platform/zkSignals.h"
#include "platform/zkTestSteps.h"
#include "shell/zkAboutForm.h"
#include "shell/zkMainForm.h"
#include "shell/zkSplashForm.h"
#include "shell/zkStartup.h"
#include "symbollists/zkSymbolListEditorForm.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QSessionManager>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {
long long MonotonicNs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
} // namespace

int main(int argc, char** argv) {
    const long long mainAt = MonotonicNs();
    // Settings.ini is looked for where the user started us, before we move.
    const QString startDir = QDir::currentPath();

    TZkApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velquist"));
    zkPrompts::InitFromEnvironment();

    // The activation message of other platforms is the per-installation command socket here;
    // there is nothing to register before we know the installation.
    SetSettingsKeyPath(ReadSettingsKeyPath(startDir));

    QDir::setCurrent(zkPaths::InstallationDir());
    if (!ReportErrors([&] { PostUrlLinks(app.arguments()); }))
        return EXIT_FAILURE;

    TInstanceGuard instance(QDir::currentPath());
    if (!instance.TryAcquire()) {
        TInstanceGuard::SendCommand(instance.lockName(), "activate");
        return EXIT_SUCCESS;
    }
    instance.Listen();

    CheckComponentVersions();

    // The splash closes itself; the queued events are handled once so it is painted before
    // the slow part of start-up.
    TSplashForm::ShowSplash(5000);
    app.processEvents();

    auto* mainForm = new TZentrikProMainForm;
    mainForm->setAttribute(Qt::WA_DeleteOnClose);
    // The windows after the main window, in this order; all stay hidden until used and go
    // with the main window.
    new TSymbolListEditorForm(mainForm);
    SetAboutForm(new TAboutForm(mainForm));
    new TSoundSetupForm(mainForm);
    new TSoundPlayForm(mainForm);
    new TOptionsForm(mainForm);
    QObject::connect(&instance, &TInstanceGuard::ActivationRequested, mainForm,
                     &TZentrikProMainForm::ActivateInstance);
    QObject::connect(&instance, &TInstanceGuard::TerminateRequested, mainForm,
                     &TZentrikProMainForm::WMTerminate);
    TUnixSignalNotifier unixSignals;
    QObject::connect(&unixSignals, &TUnixSignalNotifier::TerminateRequested, mainForm,
                     &TZentrikProMainForm::WMTerminate);
    QObject::connect(&unixSignals, &TUnixSignalNotifier::HangupRequested, mainForm,
                     &TZentrikProMainForm::EndSession);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm,
                     [mainForm](QSessionManager&) { mainForm->EndSession(); });
    // The program ends with the main window, whatever other windows are still open.
    QObject::connect(mainForm, &QObject::destroyed, &app, &QCoreApplication::quit);
    mainForm->show();
    zkTestSteps::StartFromEnvironment();

    // Benchmarks measure start-up to the first idle moment: say when it came, then quit.
    if (qEnvironmentVariableIsSet("VELQUIST_EXIT_WHEN_IDLE")) {
        QObject::connect(
            QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
            [mainAt] {
                printf("main-at-ns %lld\nidle-at-ns %lld\n", mainAt, MonotonicNs());
                fflush(stdout);
                QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    }
    return app.exec();
}
