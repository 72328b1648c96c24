#include "zkLayouts.h"

#include "alerts/zkActions.h"
#include "alerts/zkAlertForm.h"
#include "config/zkIniFile.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "desktop/zkWindowPlace.h"
#include "desktop/zkWindowRing.h"
#include "history/zkAlertHistoryForm.h"
#include "hub/zkAlertHub.h"
#include "hub/zkAlertRouter.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "platform/zkShell.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListsForm.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const QString kTop = QStringLiteral("Top");
const QString kLeft = QStringLiteral("Left");
const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");
const QString kWindowState = QStringLiteral("WindowState");
const QString kVisible = QStringLiteral("Visible");
const QString kAlertCount = QStringLiteral("AlertCount");
const QString kAlertWindow = QStringLiteral("AlertWindow");
const QString kActions = QStringLiteral("\\Actions");

QString StoreName(const TSettingsStore& store) {
    return store.isIniFile() ? store.fileName() : QStringLiteral("the per-user store");
}

// ---- companions ------------------------------------------------------------------------------

// What a companion's group reads as when it is missing.
TCompanionPlacement DefaultPlacement() {
    const TLayoutInfo& d = DefaultWindowRecord();
    TCompanionPlacement p;
    p.Top = d.Top;
    p.Left = d.Left;
    p.WindowState = d.WindowState;
    return p;
}

TCompanionPlacement ReadPlacement(const TSettingsStore& store, const QString& path) {
    const TCompanionPlacement d = DefaultPlacement();
    TCompanionPlacement p;
    p.Top = ReadIntegerValue(store, path, kTop, d.Top);
    p.Left = ReadIntegerValue(store, path, kLeft, d.Left);
    p.Width = ReadIntegerValue(store, path, kWidth, d.Width);
    p.Height = ReadIntegerValue(store, path, kHeight, d.Height);
    p.WindowState = ReadIntegerValue(store, path, kWindowState, d.WindowState);
    p.Visible = ReadBoolValue(store, path, kVisible, d.Visible);
    return p;
}

void WritePlacement(const TSettingsStore& store, const QString& path,
                    const TCompanionPlacement& p) {
    WriteIntegerValue(store, path, kTop, p.Top);
    WriteIntegerValue(store, path, kLeft, p.Left);
    WriteIntegerValue(store, path, kWidth, p.Width);
    WriteIntegerValue(store, path, kHeight, p.Height);
    WriteIntegerValue(store, path, kWindowState, p.WindowState);
    WriteBoolValue(store, path, kVisible, p.Visible);
}

// A layout may ask for a size the window cannot take (below its least size, say). What it asked
// is kept with the size the window took in answer; while the window still has that size, the
// layout is saved with the size it was read with, not the one the window took.
constexpr char kAskedSize[] = "_velquist_layout_asked_size";
constexpr char kTakenSize[] = "_velquist_layout_taken_size";

QSize SizeToSave(const QWidget& window) {
    const QSize asked = window.property(kAskedSize).toSize();
    return asked.isValid() && window.size() == window.property(kTakenSize).toSize() ? asked
                                                                                    : window.size();
}

TCompanionPlacement PlacementOf(const QWidget* window) {
    if (!window)
        return DefaultPlacement();
    const TCompanionPlacement d = DefaultPlacement();
    const QPoint pos = KeptWindowPos(*window, QPoint(d.Left, d.Top));
    TCompanionPlacement p;
    p.Top = pos.y();
    p.Left = pos.x();
    const QSize size = SizeToSave(*window);
    p.Width = size.width();
    p.Height = size.height();
    p.WindowState = StoredWindowState(*window);
    p.Visible = window->isVisible();
    return p;
}

// The largest size a window from a file is given: the whole desktop. A hand-edited size of
// millions of pixels would otherwise ask the window system for a surface it cannot have.
QSize DesktopSize() {
    QRect all;
    for (const QScreen* screen : QGuiApplication::screens())
        all |= screen->geometry();
    return all.isEmpty() ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : all.size();
}

int BoundedLength(int32_t length, int limit) {
    return std::clamp<int32_t>(length, 0, limit);
}

void ApplyPlacement(QWidget* window, const TCompanionPlacement& p) {
    if (!window)
        return;
    MoveWindowFrame(window, QPoint(p.Left, p.Top));
    // A group that is missing gives no size (0): a window of no size could not be seen or
    // grabbed, so the window keeps the size it has.
    const QSize limit = DesktopSize();
    const int width = p.Width > 0 ? BoundedLength(p.Width, limit.width()) : window->width();
    const int height = p.Height > 0 ? BoundedLength(p.Height, limit.height()) : window->height();
    window->resize(width, height);
    window->setProperty(kAskedSize, QSize(width, height));
    window->setProperty(kTakenSize, window->size());
    window->setWindowState(WindowStateFromStored(p.WindowState));
    window->setVisible(p.Visible);
    FitToMonitor(window);
}

// ---- alert windows -------------------------------------------------------------------------

TLayoutInfo BoundedRecord(TLayoutInfo record) {
    const QSize limit = DesktopSize();
    record.Width = BoundedLength(record.Width, limit.width());
    record.Height = BoundedLength(record.Height, limit.height());
    return record;
}

// Creates, configures and shows one alert window. A failure to parse the actions or to set up
// their link lists does not leave a half-made, hidden window behind: the window is finished
// and shown, and the first error's text is handed back for the caller to report. A window
// opened among many is shown without being activated: only the last of them is, so the one
// that ends up active is the same, and the others do not each make the application hand the
// activation round all its windows.
TAlertForm* OpenAlertWindow(TZentrikProMainForm& form, const TLayoutInfo& record,
                            const QStringList& actions, const QString* fileName, QString& error,
                            bool activate = true) {
    auto* window = new TAlertForm(&form, &form);
    window->ApplyWindowRecord(BoundedRecord(record));
    if (fileName)
        window->WindowFileName = *fileName;
    try {
        window->SetActions(actions);
    } catch (const EZkError& e) {
        error = e.message();
    }
    try {
        if (form.ConnectorForm)
            form.ConnectorForm->EnsureListsForActions(actions);
    } catch (const EZkError& e) {
        if (error.isEmpty())
            error = e.message();
    }
    if (activate) {
        window->show();
    } else {
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        // Only this first showing: shown again later, the window is activated as any other.
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
        if (QWindow* handle = window->windowHandle())
            handle->setProperty("_q_showWithoutActivating", false);
    }
    FitToMonitor(window);
    return window;
}

// Each window made posts events (layout and update requests, its views' queued work) that wait
// for the event loop; Qt looks through all that wait for each new one it might merge, so made
// in one go the windows of a big layout cost with the square of their number. What waits is
// delivered every so many windows instead, in one pass. The router is held meanwhile: an alert
// it delivered then would find only the windows made so far.
//
// Each window's lists also start zero-delay timers (their delayed layout, column resize, fetch
// of more rows) that only the event loop fires. Qt keeps all of the thread's timers in one list
// and looks a timer up there from the start each time one stops, so thousands of them waiting
// made every stop cost with the desk's size. The new windows' ones are fired at each turn as
// the event loop would fire them (the same timer event to the same list), so few ever wait.
//
// And the window system answers every window shown (its mapping, properties, exposure); left
// for the event loop, thousands of windows' answers wait in one queue, and Qt looks through
// the rest of that queue at each exposure. They are taken in at each turn too, and nothing
// else: no timer, no socket, no input (a key or a close request waits for the event loop).
class TRestoreTurns {
public:
    explicit TRestoreTurns(TZentrikProMainForm& form) {
        if (form.AlertHub)
            if (TAlertRouter* router = form.AlertHub->Router())
                Hold.emplace(*router);
    }
    void WindowMade(QWidget* window) {
        if (window)
            Made.append(window);
        if (Made.size() < WindowsPerTurn)
            return;
        QCoreApplication::sendPostedEvents();
        FireListTimers();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers |
                                        QEventLoop::X11ExcludeTimers);
        Made.clear();
    }

private:
    void FireListTimers() {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        if (!dispatcher)
            return;
        for (const QPointer<QWidget>& window : std::as_const(Made)) {
            if (!window)
                continue;
            for (QAbstractItemView* list : window->findChildren<QAbstractItemView*>()) {
                // A handler may start another (a layout starts the fetch of more rows): a
                // few rounds, each timer once a round, as the event loop's turns would.
                for (int round = 0; round < 3; ++round) {
                    QList<int> due;
                    for (const QAbstractEventDispatcher::TimerInfo& timer :
                         dispatcher->registeredTimers(list))
                        if (timer.interval == 0)
                            due << timer.timerId;
                    if (due.isEmpty())
                        break;
                    for (int id : std::as_const(due)) {
                        QTimerEvent event(id);
                        QCoreApplication::sendEvent(list, &event);
                    }
                }
            }
        }
    }

    static constexpr int WindowsPerTurn = 100;
    std::optional<TAlertRouter::THold> Hold;
    QList<QPointer<QWidget>> Made;
};

// The window numbers below count whose groups exist, in order, found by listing the groups
// rather than trying every number.
QList<int32_t> ExistingAlertWindowGroups(const TSettingsStore& store, int32_t count) {
    QStringList names;
    QString prefix;
    if (store.isIniFile()) {
        names = zkIni::SectionNames(store.fileName());
        prefix = LayoutKeyPath() + u'\\' + kAlertWindow;
    } else {
        try {
            names = store.userStore().SubKeys(LayoutKeyPath());
        } catch (const EStoreError&) {
            names.clear(); // reads as no windows, as every other failed read does
        }
        prefix = kAlertWindow;
    }
    QList<int32_t> found;
    for (const QString& name : std::as_const(names)) {
        if (!name.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString digits = name.mid(prefix.size());
        bool ok = false;
        const int32_t n = digits.toInt(&ok);
        // Only the spelling the layout writes: "AlertWindow07" is not window 7's group.
        if (ok && n >= 0 && n < count && QString::number(n) == digits)
            found << n;
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

} // namespace

// ---- paths ------------------------------------------------------------------------------------

QString LayoutKeyPath() {
    return SettingsKeyPath() + QStringLiteral("\\Settings\\Layout");
}

QString LayoutMainWindowPath() {
    return LayoutKeyPath() + QStringLiteral("\\MainWindow");
}

QString LayoutAlertWindowPath(int index) {
    return LayoutKeyPath() + u'\\' + kAlertWindow + QString::number(index);
}

QString LayoutSymbolWindowPath() {
    return LayoutKeyPath() + QStringLiteral("\\SymbolWindow");
}

QString LayoutConnectorWindowPath() {
    return LayoutKeyPath() + QStringLiteral("\\ConnectorWindow");
}

QString LayoutHistoryWindowPath() {
    return LayoutKeyPath() + QStringLiteral("\\HistoryWindow");
}

// ---- layouts as values --------------------------------------------------------------------

void WriteLayout(const TSettingsStore& store, const TLayout& layout) {
    const bool file = store.isIniFile();
    // A file's groups are replaced whole, so no key of an older record survives in them.
    auto begin = [&](const QString& path) {
        if (file)
            EraseSection(store, path);
    };
    TSettingsBatch batch(store);

    const QString mainPath = LayoutMainWindowPath();
    begin(mainPath);
    WriteIntegerValue(store, mainPath, kTop, layout.MainTop);
    WriteIntegerValue(store, mainPath, kLeft, layout.MainLeft);

    int32_t n = 0;
    for (const TLayoutWindow& window : layout.Windows) {
        const QString group = LayoutAlertWindowPath(n);
        begin(group);
        WriteWindowRecord(store, group, window.Record, true);
        // The actions group is not erased: ActionsCount makes readers ignore what is left.
        WriteActionsRecord(store, group + kActions, window.Actions);
        ++n;
    }

    const QString layoutPath = LayoutKeyPath();
    begin(layoutPath);
    WriteIntegerValue(store, layoutPath, kAlertCount, n);

    const QString symbolPath = LayoutSymbolWindowPath();
    begin(symbolPath);
    WritePlacement(store, symbolPath, layout.SymbolWindow);

    const QString connectorPath = LayoutConnectorWindowPath();
    begin(connectorPath);
    WritePlacement(store, connectorPath, layout.ConnectorWindow);

    const QString historyPath = LayoutHistoryWindowPath();
    begin(historyPath);
    if (layout.HistoryWindow)
        WritePlacement(store, historyPath, *layout.HistoryWindow);
    else if (!file && SectionExists(store, historyPath))
        WriteBoolValue(store, historyPath, kVisible, false);

    batch.Commit();
}

TLayout ReadLayout(const TSettingsStore& store) {
    TLayout layout;
    const QString mainPath = LayoutMainWindowPath();
    layout.MainTop = ReadIntegerValue(store, mainPath, kTop, 20);
    layout.MainLeft = ReadIntegerValue(store, mainPath, kLeft, 20);

    const int32_t count = ReadIntegerValue(store, LayoutKeyPath(), kAlertCount, 0);
    QList<int32_t> numbers;
    if (count > MaxWalkedAlertCount) {
        numbers = ExistingAlertWindowGroups(store, count);
        if (numbers.size() != count)
            std::fprintf(stderr,
                         "velquist: layout in %s: AlertCount %d cannot be right; opening the %d "
                         "alert windows found in it\n",
                         StoreName(store).toLocal8Bit().constData(), int(count),
                         int(numbers.size()));
    } else {
        for (int32_t i = 0; i < count; ++i)
            numbers << i;
    }
    layout.Windows.reserve(size_t(numbers.size()));
    for (const int32_t i : std::as_const(numbers)) {
        const QString group = LayoutAlertWindowPath(i);
        TLayoutWindow window;
        ReadWindowRecord(store, group, window.Record);
        window.Actions = ReadActionsRecord(store, group + kActions, DefaultWindowActions());
        layout.Windows.push_back(std::move(window));
    }

    layout.SymbolWindow = ReadPlacement(store, LayoutSymbolWindowPath());
    layout.ConnectorWindow = ReadPlacement(store, LayoutConnectorWindowPath());
    if (SectionExists(store, LayoutHistoryWindowPath()))
        layout.HistoryWindow = ReadPlacement(store, LayoutHistoryWindowPath());
    return layout;
}

TLayout CollectLayout(const TZentrikProMainForm& form) {
    TLayout layout;
    const QPoint mainPos = KeptWindowPos(form, QPoint(layout.MainLeft, layout.MainTop));
    layout.MainTop = mainPos.y();
    layout.MainLeft = mainPos.x();
    const QList<TAlertForm*> windows = form.AlertWindows();
    layout.Windows.reserve(size_t(windows.size()));
    for (const TAlertForm* w : windows)
        layout.Windows.push_back(TLayoutWindow{w->WindowRecord(), w->Actions});
    layout.SymbolWindow = PlacementOf(form.SymbolListsForm);
    layout.ConnectorWindow = PlacementOf(form.ConnectorForm);
    if (form.AlertHistoryForm)
        layout.HistoryWindow = PlacementOf(form.AlertHistoryForm);
    return layout;
}

void ApplyLayout(TZentrikProMainForm& form, const TLayout& layout) {
    MoveWindowFrame(&form, QPoint(layout.MainLeft, layout.MainTop));
    // At start-up the window has not been laid out yet; it must have its real size before
    // it is fitted, or a window near the right edge is pulled too far in.
    if (QLayout* l = form.layout())
        l->activate();
    FitToMonitor(&form);

    // Released at once, so the windows of the new layout are the only ones from here on.
    for (TAlertForm* w : form.AlertWindows())
        delete w;

    QString firstError;
    const TFormRing::TBatch ringBatch;
    {
        // Ended before the error report, whose dialog would otherwise hold the alerts up.
        TRestoreTurns turns(form);
        const size_t count = layout.Windows.size();
        for (size_t i = 0; i < count; ++i) {
            const TLayoutWindow& window = layout.Windows[i];
            QString error;
            TAlertForm* made = OpenAlertWindow(form, window.Record, window.Actions, nullptr, error,
                                               i + 1 == count);
            if (firstError.isEmpty())
                firstError = error;
            turns.WindowMade(made);
        }
    }

    ApplyPlacement(form.SymbolListsForm, layout.SymbolWindow);
    ApplyPlacement(form.ConnectorForm, layout.ConnectorWindow);
    // Made only for a layout that shows it.
    if (layout.HistoryWindow)
        ApplyPlacement(layout.HistoryWindow->Visible ? form.AlertHistoryWindow()
                                                     : form.AlertHistoryForm,
                       *layout.HistoryWindow);
    else if (form.AlertHistoryForm)
        form.AlertHistoryForm->hide();
    // One report for the whole layout, once every window is there.
    if (!firstError.isEmpty())
        zkPrompts::ShowErrorReport(firstError);
}

// ---- alert-window files ---------------------------------------------------------------------

namespace {

// The window opened, or none when the file holds no alert window.
TAlertForm* OpenAlertWindowFile(TZentrikProMainForm& form, const QString& fileName, bool activate) {
    const TSettingsStore store = TSettingsStore::IniFile(fileName);
    const QString section = AlertWindowSectionName();
    if (!SectionExists(store, section))
        return nullptr;
    TLayoutInfo record;
    ReadWindowRecord(store, section, record);
    const QStringList actions = ReadActionsRecord(store, section, DefaultWindowActions());
    QString error;
    TAlertForm* window = OpenAlertWindow(form, record, actions, &fileName, error, activate);
    if (!error.isEmpty())
        throw EConvertError(error);
    return window;
}

} // namespace

bool LoadAlertWindowFile(TZentrikProMainForm& form, const QString& fileName) {
    return OpenAlertWindowFile(form, fileName, true) != nullptr;
}

void LoadAllSavedWindows(TZentrikProMainForm& form) {
    const QDir dir(SavedWindowsDir());
    if (!dir.exists())
        return;
    // Without QDir::Hidden and QDir::System: dot files, sockets and the like stay out.
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*.zka")}, QDir::Files, QDir::Unsorted);
    QString firstError;
    const TFormRing::TBatch ringBatch;
    // Only the last window opened is activated, as the last shown would end up active.
    qsizetype last = entries.size() - 1;
    while (last >= 0 && entries[last].fileName() == QLatin1String(DefaultWindowFile()))
        --last;
    {
        TRestoreTurns turns(form);
        for (qsizetype i = 0; i <= last; ++i) {
            const QFileInfo& entry = entries[i];
            if (entry.fileName() ==
                QLatin1String(DefaultWindowFile())) // exactly; default_window.zka is a window
                continue;
            TAlertForm* made = nullptr;
            try {
                made = OpenAlertWindowFile(form, entry.filePath(), i == last);
            } catch (const EZkError& e) {
                // One bad file must not keep the others closed.
                if (firstError.isEmpty())
                    firstError = e.message();
            }
            turns.WindowMade(made);
        }
    }
    if (!firstError.isEmpty())
        zkPrompts::ShowErrorReport(firstError);
}

void LoadAlertWindowDialog(TZentrikProMainForm& form) {
    EnsureSavedWindowsDir();
    zkPrompts::TFileDialogSpec spec;
    spec.DefaultExt = QStringLiteral("zka");
    spec.Filter = QApplication::translate("TZentrikProMainForm",
                                          "Velquist files (*.zka)|*.zka|All files (*)|*");
    spec.InitialDir = SavedWindowsDir();
    spec.PathMustExist = true;
    // A name typed that does not exist would open nothing without a word.
    spec.FileMustExist = true;
    QString chosen;
    if (zkPrompts::OpenFileName(spec, chosen, &form))
        LoadAlertWindowFile(form, chosen);
}

// ---- layouts on the desk -------------------------------------------------------------------

void SaveLayout(TZentrikProMainForm& form, const QString& fileName) {
    const TLayout layout = CollectLayout(form);
    const TSettingsStore store =
        fileName.isEmpty() ? TSettingsStore::Registry() : TSettingsStore::IniFile(fileName);
    WriteLayout(store, layout);
    // Kept apart from any layout file: always the per-user store and DEFAULT_WINDOW.zka.
    SaveDefaultActionLists();
}

void LoadLayout(TZentrikProMainForm& form, const QString& fileName) {
    const TSettingsStore store =
        fileName.isEmpty() ? TSettingsStore::Registry() : TSettingsStore::IniFile(fileName);
    ApplyLayout(form, ReadLayout(store));
}

namespace {

QString LayoutFilter() {
    return QApplication::translate("TZentrikProMainForm",
                                   "Velquist Layout files (*.zkl)|*.zkl|All files (*)|*");
}

// The name the layout dialogs start from: LoadLayoutName, or the built-in file when empty.
QString LayoutDialogName(const TZentrikProMainForm& form) {
    const QString name = form.LayoutSettings.LoadLayoutName;
    return name.isEmpty() ? DefaultLayoutFileName() : name;
}

} // namespace

void SaveLayoutDialog(TZentrikProMainForm& form) {
    const QFileInfo start(LayoutDialogName(form));
    const QString dir = start.absolutePath();
    QDir().mkpath(dir);
    zkPrompts::TFileDialogSpec spec;
    spec.DefaultExt = QStringLiteral("zkl");
    spec.Filter = LayoutFilter();
    spec.InitialDir = dir;
    spec.FileName = start.fileName();
    spec.OverwritePrompt = true;
    spec.PathMustExist = true;
    QString chosen;
    if (!zkPrompts::SaveFileName(spec, chosen, &form))
        return;
    SaveLayout(form, chosen);
    zkPrompts::MessageBox(QApplication::translate("TZentrikProMainForm", "Layout saved."),
                          ApplicationTitle(), zkPrompts::TIcon::Information,
                          zkPrompts::TButtons::OK, &form);
}

void RestoreLayoutDialog(TZentrikProMainForm& form) {
    const QString loadName = form.LayoutSettings.LoadLayoutName;
    QString dir = loadName.isEmpty() ? QString() : QFileInfo(loadName).absolutePath();
    if (dir.isEmpty() || !QDir(dir).exists()) {
        dir = QFileInfo(DefaultLayoutFileName()).absolutePath();
        QDir().mkpath(dir);
    }
    zkPrompts::TFileDialogSpec spec;
    spec.DefaultExt = QStringLiteral("zkl");
    spec.Filter = LayoutFilter();
    spec.InitialDir = dir;
    spec.FileName = QFileInfo(LayoutDialogName(form)).fileName();
    spec.PathMustExist = true;
    // Restoring a name that does not exist would close every window and open none.
    spec.FileMustExist = true;
    QString chosen;
    if (zkPrompts::OpenFileName(spec, chosen, &form))
        LoadLayout(form, chosen);
}

// ---- start-up ---------------------------------------------------------------------------------

void OpenStartupLayout(TZentrikProMainForm& form) {
    const TSettingsStore registry = TSettingsStore::Registry();
    const TLayoutSettings& settings = form.LayoutSettings;
    // "LoadOnStart" stored as an integer means the layout choices were saved before.
    const QString settingsKey = SettingsKeyPath() + QStringLiteral("\\Settings");
    if (ReadIntegerValue(registry, settingsKey, QStringLiteral("LoadOnStart"), -1) >= 0) {
        if (!settings.LoadOnStart)
            return;
        if (QFileInfo(settings.LoadLayoutName).isFile())
            LoadLayout(form, settings.LoadLayoutName);
        else
            LoadAllSavedWindows(form);
        return;
    }
    // First start with layout choices: take what the per-user store holds (or, when it holds
    // no layout, the saved windows) and carry it over into the layout file.
    LoadLayout(form, QString());
    if (ReadIntegerValue(registry, LayoutKeyPath(), kAlertCount, -1) < 0)
        LoadAllSavedWindows(form);
    SaveLayout(form, settings.LoadLayoutName);
}

// ---- whole-process tests ------------------------------------------------------------------

void StartLayoutSaveLoopFromEnvironment(TZentrikProMainForm* form) {
    const QString fileName = qEnvironmentVariable("VELQUIST_TEST_SAVE_LOOP");
    if (fileName.isEmpty() || !form)
        return;
    auto* timer = new QTimer(form);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, form, [form, fileName, generation = 0]() mutable {
        ++generation;
        for (TAlertForm* w : form->AlertWindows())
            w->WindowFileName = QStringLiteral("gen-%1").arg(generation);
        ReportErrors([&] { SaveLayout(*form, fileName); });
    });
    timer->start();
}
