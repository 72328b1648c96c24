// Start-up: turns a fresh process into the running client, step by step in a fixed order.
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundPlayer.h"
#include "alerts/zkSoundSetupForm.h"
#include "config/zkSecrets.h"
#include "config/zkSettings.h"
#include "config/zkThemeSettings.h"
#include "config/zkUserStore.h"
#include "desktop/zkAccessibility.h"
#include "desktop/zkClientStyle.h"
#include "desktop/zkSecretService.h"
#include "desktop/zkSessionBus.h"
#include "desktop/zkWindowOrder.h"
#include "platform/zkApplication.h"
#include "platform/zkInstallation.h"
#include "platform/zkInstance.h"
#include "platform/zkLateStart.h"
#include "platform/zkMemory.h"
#include "platform/zkPaths.h"
#include "platform/zkProcessFigures.h"
#include "platform/zkPrompts.h"
#include "platform/zkSignals.h"
#include "platform/zkTestSteps.h"
#include "platform/zkVersion.h"
#include "platform/zkWarmup.h"
#include "shell/zkMainForm.h"
#include "shell/zkSplashForm.h"
#include "shell/zkStartup.h"
#include "symbollists/zkSymbolListEditorForm.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSessionManager>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

namespace {
long long MonotonicNs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

constexpr const char* UsageText =
    "Usage: velquist [/url:LINK...]\n"
    "       velquist --help | --version\n"
    "The desktop client of the Velquist stock-alert service. A second start brings the running\n"
    "client forward and hands it its links (velquist: web links, given as /url:LINK).\n";
} // namespace

int main(int argc, char** argv) {
    const long long mainAt = MonotonicNs();
    const bool timeStartup = std::getenv("VELQUIST_EXIT_WHEN_IDLE") != nullptr;
    const bool listLibraries = timeStartup && std::getenv("VELQUIST_LIST_LIBRARIES") != nullptr;
    const int librariesAtMain = timeStartup ? MappedLibraries("main", listLibraries) : 0;
    if (timeStartup)
        EnableStartupPhases();
    zkMemory::SetAllocatorThresholds();
    // A link may carry a password, and every user can read our command line: it goes before
    // anything else runs (Qt's set-up alone takes tens of milliseconds).
    const QStringList arguments = TakeStartArguments(argc, argv);
    if (zkVersion::AnswerInfoOption(argc, argv, "velquist", UsageText))
        return EXIT_SUCCESS;
    // Settings.ini is looked for where the user started us, before we move.
    const QString startDir = QDir::currentPath();

    PaintWithoutSharedImages();
    std::optional<TDisplayStartGuard> noDisplay(std::in_place);
    TZkApplication app(argc, argv);
    MarkStartupPhase("application");
    zkClientStyle::Install();
    const TSessionBusWarmup sessionBus;
    // From the start, so the window ring knows the order of every window.
    zkWindowOrder::Install();
    zkAccessibility::Install();
    noDisplay.reset();
    // Not before the application object: loading the font configuration beside its connection to
    // the display slowed that by more than it saved later.
    TStartupWarmup warmup;
    warmup.StartFontDatabase();
    // Whatever way main() ends, the warm-up is over before the application object goes.
    const auto warmupEnded = qScopeGuard([&warmup] { warmup.Wait(); });
    QCoreApplication::setApplicationName(QStringLiteral("velquist"));
    zkPrompts::InitFromEnvironment();

    // The activation message of other platforms is the per-installation command socket here;
    // there is nothing to register before we know the installation.
    // A system installation reads the machine's Settings.ini wherever the user started us.
    SetSettingsKeyPath(ReadSettingsKeyPath(
        zkInstallation::IsShared() ? QFileInfo(zkInstallation::SettingsIniPath()).absolutePath()
                                   : startDir));

    const QString workingDirProblem = zkInstallation::PrepareWorkingDir();
    if (workingDirProblem.isEmpty()) {
        QDir::setCurrent(zkInstallation::WorkingDir());
    } else {
        // Saving will fail where the user can see it; starting must not.
        std::fprintf(stderr, "velquist: %s\n", qPrintable(workingDirProblem));
        QDir::setCurrent(zkPaths::InstallationDir());
    }
    if (!ReportErrors([&] { PostUrlLinks(arguments); }))
        return EXIT_FAILURE;

    TInstanceGuard instance(QDir::currentPath());
    if (!instance.TryAcquire()) {
        if (!instance.Problem().isEmpty()) {
            // Without the lock a second client could share the store: refuse, and say why.
            const QString text =
                zkPaths::LockDir().isEmpty()
                    ? QCoreApplication::translate("main", "Velquist cannot start: there is no "
                                                          "safe folder for its single-instance "
                                                          "lock.\n\n%1")
                          .arg(instance.Problem())
                    : QCoreApplication::translate("main", "Velquist cannot start: %1")
                          .arg(instance.Problem());
            std::fprintf(stderr, "velquist: %s\n", text.toLocal8Bit().constData());
            zkPrompts::MessageBox(text, QApplication::applicationDisplayName(),
                                  zkPrompts::TIcon::Error, zkPrompts::TButtons::OK);
            return EXIT_FAILURE;
        }
        // A store kept in memory is this process's alone: the running client learns the link
        // from the command itself.
        QByteArray commands;
        const QStringList links = UrlArguments(arguments);
        if (!links.isEmpty() && !TUserStore::Instance().isPersistent())
            commands = TInstanceGuard::LinkCommand(links.last()) + '\n';
        if (TInstanceGuard::SendCommand(instance.lockName(), commands + "activate"))
            return EXIT_SUCCESS;
        // Ending silently here would look like a start that did nothing. A lock file that
        // names no process is not given one.
        const QString holder =
            instance.HolderPid() > 0
                ? QCoreApplication::translate("main", " (process %1)").arg(instance.HolderPid())
                : QString();
        const QString text =
            QCoreApplication::translate("main", "Velquist cannot start: another Velquist of "
                                                "this installation holds the lock %1%2, but it "
                                                "could not be reached.")
                .arg(TInstanceGuard::LockPath(instance.lockName()), holder);
        std::fprintf(stderr, "velquist: %s\n", text.toLocal8Bit().constData());
        zkPrompts::MessageBox(text, QApplication::applicationDisplayName(), zkPrompts::TIcon::Error,
                              zkPrompts::TButtons::OK);
        return EXIT_FAILURE;
    }
    // The secrets go to the desktop's keyring when one answers; asked first when the login is
    // read, with the main window.
    SetSecretStore(&DesktopSecretService());
    StartReadingApplicationIcon();
    // Before the first window, so none is drawn in the wrong colours; following the desktop
    // asks the portal now, and its answer comes while the windows are made.
    ReportErrors([] {
        TThemeController::Instance().SetChoice(ReadThemeChoice(TSettingsStore::Registry()));
    });
    // Requests that come while the main window is being created wait for it.
    TMainFormRequests requests;
    QObject::connect(&instance, &TInstanceGuard::ActivationRequested, &requests,
                     &TMainFormRequests::Activate);
    QObject::connect(&instance, &TInstanceGuard::TerminateRequested, &requests,
                     &TMainFormRequests::Terminate);
    QObject::connect(&instance, &TInstanceGuard::LinkReceived, &app,
                     [](const QString& link) { ReportErrors([&] { PostUrlLink(link); }); });
    TUnixSignalNotifier unixSignals;
    TUnixSignalNotifier::SetStartingUp(true);
    QObject::connect(&unixSignals, &TUnixSignalNotifier::TerminateRequested, &requests,
                     &TMainFormRequests::Terminate);
    instance.Listen();
    ReportErrors([] { RemoveStaleWriteTemporaries(); });

    CheckComponentVersions();
    MarkStartupPhase("before-first-window");

    // The splash closes itself; the queued events are handled once so it is painted before
    // the slow part of start-up.
    TSplashForm::ShowSplash(5000);
    app.processEvents();
    MarkStartupPhase("splash");

    warmup.Wait();
    auto* mainForm = new TZentrikProMainForm;
    // The hidden windows are made when first asked for and go with the main window: the
    // sound window right after the first idle moment (or at an earlier alert's sound), the
    // Symbol List Editor, Options, Sound Setup and About dialogs when first opened.
    InstallApplicationBeep();
    SetSymbolListEditorMaker([mainForm] { return new TSymbolListEditorForm(mainForm); });
    SetSoundSetupFormMaker([mainForm] { return new TSoundSetupForm(mainForm, mainForm); });
    SetSoundPlayFormMaker([mainForm] { return new TSoundPlayForm(mainForm); });
    MarkStartupPhase("main-window-built");
    QObject::connect(&unixSignals, &TUnixSignalNotifier::HangupRequested, mainForm,
                     &TZentrikProMainForm::EndSession);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm,
                     [mainForm](QSessionManager&) { mainForm->EndSession(); });
    // The program ends with the main window, whatever other windows are still open. Every event
    // loop ends with it, also that of a dialog still open; the window goes once all returned.
    QObject::connect(mainForm, &TZentrikProMainForm::Closed, &app,
                     [mainForm] { QCoreApplication::exit(mainForm->ExitCode()); });
    mainForm->show();
    MarkStartupPhase("main-window-shown");
    requests.SetMainForm(mainForm);
    QTimer::singleShot(0, mainForm, [mainForm] { ShowSetAsideStoreNotice(mainForm); });
    // The sound libraries (libsndfile with eight codec libraries, PulseAudio) are loaded a moment
    // after the first windows are up and painted: nothing before that needs them, and a sound
    // comes no sooner than the first alert.
    zkLateStart::AfterFirstIdle(&app, [] {
        PrepareSoundOutput();
        SoundPlayForm();
    });
    zkTestSteps::StartFromEnvironment();
    // Start-up is over once the event loop runs.
    QTimer::singleShot(0, &app, [] { TUnixSignalNotifier::SetStartingUp(false); });

    // Benchmarks measure start-up to the first idle moment: say when it came, then quit.
    if (timeStartup) {
        QObject::connect(
            QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
            [mainAt, librariesAtMain, listLibraries] {
                const long long idleAt = MonotonicNs();
                MarkStartupPhase("idle");
                PrintStartupPhases();
                printf("main-at-ns %lld\nidle-at-ns %lld\nlibraries-at-main %d\n"
                       "libraries-at-idle %d\nrss-at-idle-kib %ld\nanonymous-at-idle-kib %ld\n",
                       mainAt, idleAt, librariesAtMain, MappedLibraries("idle", listLibraries),
                       ResidentKiB(), ResidentKiB("RssAnon"));
                fflush(stdout);
                QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    }
    const int result = app.exec();
    // None is made again while the main window and its windows go.
    SetSymbolListEditorMaker({});
    SetSoundSetupFormMaker({});
    SetSoundPlayFormMaker({});
    delete mainForm;
    return result;
}
