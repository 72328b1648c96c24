#include "zkStartup.h"

#include "components/zkComponentRegistry.h"
#include "config/zkConfig.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "desktop/zkApplicationIcon.h"
#include "platform/zkAtomicFile.h"
#include "platform/zkInstallation.h"
#include "platform/zkLateStart.h"
#include "platform/zkPaths.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "urlhandler/zkURLHandler.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <utility>

QString ReadSettingsKeyPath(const QString& startDir) {
    const QString iniPath = QDir(startDir).filePath(QString::fromLatin1(SettingsIniName()));
    const QString def = QString::fromLatin1(DefaultSettingsKeyPath());
    if (!QFileInfo::exists(iniPath))
        return def;
    const TSettingsStore ini = TSettingsStore::IniFile(iniPath);
    if (!SectionExists(ini, QStringLiteral("Settings")))
        return def;
    return ReadStringValue(ini, QStringLiteral("Settings"), QStringLiteral("RegistryKey"), def);
}

namespace {
// xdg-open without a desktop environment (xdg-utils 1.1) runs the desktop entry's
// "velquist /url:%u" with "/url:%u" left as it is and the link as the next argument.
bool IsUnexpandedLinkField(const char* argument) {
    return qstricmp(argument, "/url:%u") == 0;
}
} // namespace

QStringList UrlArguments(const QStringList& arguments) {
    QStringList links;
    // The first argument is the program itself.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (IsUnexpandedLinkField(arg.toUtf8().constData()) && i + 1 < arguments.size())
            links << arguments[++i];
        else if (arg.startsWith(QLatin1String("/url:"), Qt::CaseInsensitive))
            links << arg.mid(5);
    }
    return links;
}

void PostUrlLinks(const QStringList& arguments) {
    const QString mailbox = URLHandlerKey();
    for (const QString& link : UrlArguments(arguments))
        WriteStringValue(TSettingsStore::Registry(), mailbox, QString(), link);
}

void PostUrlLink(const QString& link) {
    WriteStringValue(TSettingsStore::Registry(), URLHandlerKey(), QString(), link);
}

void ShowSetAsideStoreNotice(QWidget* parent) {
    TUserStore& store = TUserStore::Instance();
    if (!store.isPersistent()) {
        zkPrompts::MessageBox(
            QCoreApplication::translate("main", "Your settings cannot be saved: the settings "
                                                "store %1 cannot be used (%2).\n\nVelquist "
                                                "keeps them in memory; every setting changed "
                                                "now is lost when Velquist ends.")
                .arg(store.fileName(), store.memoryReason()),
            QApplication::applicationDisplayName(), zkPrompts::TIcon::Warning,
            zkPrompts::TButtons::OK, parent);
        return;
    }
    const QString aside = TUserStore::TakeSetAsideFile();
    if (aside.isEmpty())
        return;
    zkPrompts::MessageBox(
        QCoreApplication::translate("main", "Your settings could not be read. They were kept "
                                            "aside in\n%1\nand Velquist started with empty "
                                            "settings.")
            .arg(aside),
        QApplication::applicationDisplayName(), zkPrompts::TIcon::Warning, zkPrompts::TButtons::OK,
        parent);
}

void WipeUrlArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        char* argument = argv[i];
        if (!argument || qstrnicmp(argument, "/url:", 5) != 0)
            continue;
        char* link = argument + 5;
        if (IsUnexpandedLinkField(argument) && i + 1 < argc && argv[i + 1])
            link = argv[++i];
        // volatile: the stores must happen although nothing reads the memory afterwards.
        for (volatile char* c = link; *c; ++c)
            *c = '\0';
    }
}

QStringList TakeStartArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (qEnvironmentVariableIsSet(LinkArgumentVariable)) {
        arguments.insert(std::min<qsizetype>(1, arguments.size()),
                         qEnvironmentVariable(LinkArgumentVariable));
        qunsetenv(LinkArgumentVariable);
    }
    WipeUrlArguments(argc, argv);
    return arguments;
}

void RemoveStaleWriteTemporaries() {
    TLayoutSettings defaults;
    SetLayoutDefaults(defaults);
    TLayoutSettings layouts;
    ReadLayoutSettings(layouts, defaults);
    QStringList dirs = {QDir::currentPath(), SavedWindowsDir(), zkPaths::ConfigDir(),
                        zkPaths::DataDir() + QStringLiteral("/service")};
    for (const QString& layout : {layouts.SaveLayoutName, layouts.LoadLayoutName})
        if (!layout.isEmpty())
            dirs << QFileInfo(layout).absolutePath();
    dirs.removeDuplicates();
    // Looked through on another thread: nothing at start-up waits for it, and only files far
    // older than any write under way go.
    QThreadPool::globalInstance()->start([dirs] {
        for (const QString& dir : dirs)
            zkAtomicFile::RemoveStaleTemporaries(dir);
    });
}

bool VersionAtLeast(const QString& text, int requiredMajor, int requiredMinor) {
    if (text.isEmpty())
        return false;
    qsizetype split = 0;
    while (split < text.size() && text[split].isDigit() && text[split].unicode() < 128)
        ++split;
    int32_t major = 0;
    if (!TryParseIntegerText(text.left(split), major))
        return false;
    if (major != requiredMajor)
        return major > requiredMajor;
    int32_t minor = 0;
    if (!TryParseIntegerText(text.mid(split + 1), minor))
        return false;
    return minor >= requiredMinor;
}

namespace {
struct TRequiredLibrary {
    const char* Id;
    const char* Name;
    int Major;
    int Minor;
};
constexpr TRequiredLibrary RequiredLibraries[] = {
    {"ZentrikWindow_TLB", "WindowX", 4, 3},
    {"ZentrikGenericConnector2Proj1_TLB", "GenericConnector2x", 1, 4},
};
} // namespace

QString ComponentVersionProblem() {
    for (const TRequiredLibrary& lib : RequiredLibraries) {
        const QString found = TComponentRegistry::FoundVersion(QString::fromLatin1(lib.Id));
        if (!VersionAtLeast(found, lib.Major, lib.Minor))
            return QCoreApplication::translate(
                       "Startup", "ActiveX object (%1) not registered or has invalid version "
                                  "number.\r\nExpecting \"%2.%3\", found \"%4\".\r\nApplication "
                                  "will be terminated. Please reinstall the application.")
                .arg(QString::fromLatin1(lib.Name))
                .arg(lib.Major)
                .arg(lib.Minor)
                .arg(found);
    }
    return QString();
}

void CheckComponentVersions() {
    const QString problem = ComponentVersionProblem();
    if (problem.isEmpty())
        return;
    // The main window, which applies the configured title, does not exist yet: the box reads
    // the title itself, as every later box shows it.
    TConfigInfo config;
    SetConfigDefaults(config);
    LoadConfig(config);
    zkPrompts::MessageBox(problem, config.ApplicationTitle, zkPrompts::TIcon::Error,
                          zkPrompts::TButtons::OK);
    // The client cannot work without its components; end at once, as a failure.
    std::exit(EXIT_FAILURE);
}

namespace {

QList<QImage> ReadIconImages(const QString& iconPath) {
    QList<QImage> images;
    if (!QFileInfo::exists(iconPath))
        return images;
    QImageReader reader(iconPath, "ico");
    const QImage first = reader.read();
    if (first.isNull())
        return images;
    images.append(first);
    while (reader.jumpToNextImage()) {
        const QImage next = reader.read();
        if (!next.isNull())
            images.append(next);
    }
    return images;
}

// What start-up reads of the icon file: its small sizes when they can be read without Qt's
// image plugins (the rest comes once the first windows are up), else every size.
struct TIconImages {
    QList<QImage> Images;
    bool Every = true;
};

TIconImages ReadStartIconImages(const QString& iconPath) {
    QFile file(iconPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // An icon file is tens of kilobytes; a huge one is not read ahead.
    if (file.size() <= 4 * 1024 * 1024) {
        QList<QImage> small = zkApplicationIcon::SmallBitmapImages(file.readAll());
        if (!small.isEmpty())
            return {std::move(small), false};
    }
    return {ReadIconImages(iconPath), true};
}

QIcon IconOf(QList<QImage> images) {
    // Every size in the file, so the taskbar and title bars each pick the best one. Each image
    // is converted where it lies.
    QIcon icon;
    for (QImage& image : images)
        icon.addPixmap(QPixmap::fromImage(std::move(image)));
    return icon;
}

QString ApplicationIconPath() {
    const QString program = QCoreApplication::applicationFilePath();
    return zkInstallation::IsShared()
               ? zkInstallation::DataFile(QFileInfo(program).fileName() + QStringLiteral(".ico"))
               : program + QStringLiteral(".ico");
}

std::future<TIconImages>& IconReading() {
    static std::future<TIconImages> reading;
    return reading;
}

} // namespace

void StartReadingApplicationIcon() {
    if (!IconReading().valid())
        IconReading() = std::async(std::launch::async, [path = ApplicationIconPath()] {
            return ReadStartIconImages(path);
        });
}

void LoadApplicationIcon() {
    std::future<TIconImages>& reading = IconReading();
    TIconImages start =
        reading.valid() ? reading.get() : ReadStartIconImages(ApplicationIconPath());
    if (start.Images.isEmpty())
        return;
    const QIcon icon = IconOf(std::move(start.Images));
    if (!start.Every) {
        // The window system hears of the small sizes now and of every size once the first
        // windows are up, read then beside the event loop; the windows then take the icon again.
        QApplication::setWindowIcon(icon);
        zkLateStart::AfterFirstIdle(qApp, [path = ApplicationIconPath()] {
            // The result comes back to the application's thread, and not at all once the
            // application has gone.
            auto read = std::make_shared<QPromise<QList<QImage>>>();
            read->future().then(qApp, [](QList<QImage> every) {
                if (!every.isEmpty())
                    QApplication::setWindowIcon(IconOf(std::move(every)));
            });
            QThreadPool::globalInstance()->start([read, path] {
                read->start();
                read->addResult(ReadIconImages(path));
                read->finish();
            });
        });
        return;
    }
    // The window system hears of the small sizes first and of every size once the first
    // windows are up; the windows then take the icon again.
    const QIcon shown = zkApplicationIcon::NamingSmallSizes(icon);
    QApplication::setWindowIcon(shown);
    if (shown.availableSizes() != icon.availableSizes())
        zkLateStart::AfterFirstIdle(qApp, [icon] { QApplication::setWindowIcon(icon); });
}

void TMainFormRequests::Activate() {
    if (Form)
        Form->ActivateInstance();
    else
        PendingActivate = true;
}

void TMainFormRequests::Terminate() {
    if (Form)
        Form->WMTerminate();
    else
        PendingTerminate = true;
}

void TMainFormRequests::SetMainForm(TZentrikProMainForm* form) {
    Form = form;
    if (!form)
        return;
    if (std::exchange(PendingActivate, false))
        QMetaObject::invokeMethod(form, &TZentrikProMainForm::ActivateInstance,
                                  Qt::QueuedConnection);
    if (std::exchange(PendingTerminate, false))
        QMetaObject::invokeMethod(form, &TZentrikProMainForm::WMTerminate, Qt::QueuedConnection);
}
