#include "zkAlertForm.h"

#include "alerts/zkAlertActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "alerts/zkAlertDesk.h"
#include "alerts/zkKeepRulesForm.h"
#include "alerts/zkQuietHoursTab.h"
#include "components/zkComponentWrappers.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "desk/zkAccountDesk.h"
#include "desk/zkAlertLog.h"
#include "desktop/zkWindowPlace.h"
#include "desktop/zkWindowRing.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QVBoxLayout>
#include <QWindow>

#include <memory>

namespace {

constexpr Qt::WindowStates kPlacementStates =
    Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

} // namespace

TAlertForm::TAlertForm(QWidget* owner, IAlertDesk* desk) : QWidget(owner, Qt::Window), Desk(desk) {
    setObjectName(QStringLiteral("AlertForm"));
    setWindowTitle(tr("Zentrik Alerts"));
    resize(452, 446);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ZentrikWindowX = new TZentrikWindowX(this);
    layout->addWidget(ZentrikWindowX);
    Announcer = new TAlertAnnouncer(this);
    connect(ZentrikWindowX, &TZentrikWindowX::OnAlertSelected, this,
            &TAlertForm::ZentrikWindowXAlertSelected);
    connect(ZentrikWindowX, &TZentrikWindowX::OnNewAlert, this,
            &TAlertForm::ZentrikWindowXNewAlert);
    connect(ZentrikWindowX, &TZentrikWindowX::OnCustomMenuItem, this,
            &TAlertForm::ZentrikWindowXCustomMenuItem);
    connect(ZentrikWindowX, &TZentrikWindowX::OnWindowNameChanged, this,
            &TAlertForm::ZentrikWindowXWindowNameChanged);
    connect(ZentrikWindowX, &TZentrikWindowX::OnAccountStatusChanged, this,
            &TAlertForm::ZentrikWindowXAccountStatusChanged);
    FormCreate();
    // Listed only now that it is whole. Alerts that came meanwhile (an error report's event
    // loop above) have their actions run by the next idle step.
    if (Desk) {
        Desk->AlertWindowReady(*this);
        RecheckPendingActions(*this);
    }
}

TAlertForm::~TAlertForm() {
    // Off the list before anything of it goes.
    if (Desk)
        Desk->AlertWindowGone(*this);
    FormDestroy();
    // The component goes while this window is still whole, so nothing it raises on its way out
    // reaches a half-destroyed handler.
    delete ZentrikWindowX;
    ZentrikWindowX = nullptr;
}

void TAlertForm::FormCreate() {
    WindowFileName.clear();
    UpdateCaption();
    ZentrikWindowX->SetNotifyOnWindowNameChanged(true);
    ZentrikWindowX->SetNotifyOnAccountStatusChanged(true);
    ZentrikWindowX->AddCustomMenuItem(tr("-"), SeparatorMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Actions..."), ActionsMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Duplicate window"), DuplicateWindowMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Save window..."), SaveWindowMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Set window as default"), SetAsDefaultMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Set font..."), SetFontMenuId);
    ZentrikWindowX->AddCustomMenuItem(tr("Quiet hours..."), QuietHoursMenuId);
    KeyPreview = true;
    JoinWindowRing();
    Actions = DefaultWindowActions();
    ActionTable.Clear();
    PendingActions.Clear();
    // A bad default action list must not make every new window fail: the window is finished
    // (so it still notifies and selects) and the error is reported afterwards.
    QString parseError;
    try {
        ParseActions();
    } catch (const EZkError& e) {
        parseError = e.message();
    }
    ZentrikWindowX->SetNotifyOnEachAlert(true);
    ZentrikWindowX->SetAllowAlertSelectionType(3);
    HasPendingActions = false;
    if (!parseError.isEmpty())
        zkPrompts::ShowErrorReport(parseError);
}

void TAlertForm::FormClose() {
    setAttribute(Qt::WA_DeleteOnClose);
}

void TAlertForm::FormDestroy() {
    Actions.clear();
    ActionTable.Clear();
    PendingActions.Clear();
}

void TAlertForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
    // Accepted, the close goes through: the window is hidden and deleted soon after.
    Closing = event->isAccepted();
}

void TAlertForm::showEvent(QShowEvent* event) {
    // Key preview: the window handle sees every key event before the focused control does.
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    QWidget::showEvent(event);
}

bool TAlertForm::eventFilter(QObject* watched, QEvent* event) {
    if (KeyPreview && event->type() == QEvent::KeyPress && watched == windowHandle()) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (FormKeyDown(keyEvent->key(), keyEvent->modifiers(), keyEvent->isAutoRepeat()))
            return true;
    }
    if (KeyPreview && event->type() == QEvent::KeyRelease && watched == windowHandle()) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        FormKeyUp(key, keyEvent->modifiers());
        if (key == 0)
            return true; // the handler took the key
    }
    return QWidget::eventFilter(watched, event);
}

void TAlertForm::FormKeyUp(int& key, Qt::KeyboardModifiers shift) {
    if (HandleRingKeys(key, shift))
        key = 0;
}

bool TAlertForm::FormKeyDown(int key, Qt::KeyboardModifiers shift, bool autoRepeat) {
    // On the press, not the release: the release of an Enter that closed a dialog over this
    // window must not send a symbol.
    if ((key != Qt::Key_Return && key != Qt::Key_Enter) || autoRepeat ||
        (shift & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    const QWidget* focus = QApplication::focusWidget();
    if (!focus || !ZentrikWindowX->isAncestorOf(focus))
        return false;
    const std::shared_ptr<IAlertData> alert = ZentrikWindowX->SelectedAlert();
    if (!alert)
        return false;
    EnteredAlertActions(*this, *alert);
    return true;
}

void TAlertForm::UpdateCaption() {
    QString name = ZentrikWindowX->WindowName().trimmed();
    // The inbox's catch-all window ("WN=*"), which takes the strategies that have no window.
    if (name == QLatin1String("*") && IsInboxDataConfig(ZentrikWindowX->DataConfig()))
        name = tr("Inbox");
    setWindowTitle(name.isEmpty() ? ApplicationTitle() : name);
}

void TAlertForm::SetActions(const QStringList& actions) {
    Actions = actions;
    ParseActions();
}

void TAlertForm::ParseActions() {
    ::ParseActions(Actions, ActionTable);
}

void TAlertForm::SetQuiet(const TQuietSettings& quiet) {
    Quiet = quiet;
    Announcer->SetMode(quiet.Announce);
}

void TAlertForm::RememberAppliedFont(const TLayoutInfo& record) {
    AppliedFont = ZentrikWindowX->Font();
    AppliedFontRecord = record;
    HasAppliedFont = true;
}

void TAlertForm::ApplyWindowRecord(const TLayoutInfo& record, bool place) {
    if (place)
        MoveWindowFrame(this, QPoint(record.Left, record.Top));
    resize(record.Width, record.Height);
    setWindowState(WindowStateFromStored(record.WindowState));
    FontCharset = record.FontCharset;
    ZentrikWindowX->SetFontColor(record.FontColor);
    ZentrikWindowX->SetFont(ApplyRecordFont(ZentrikWindowX->Font(), record));
    RememberAppliedFont(record);
    ZentrikWindowX->SetDataConfig(record.DataConfig);
    ZentrikWindowX->SetWindowConfig(record.WindowConfig);
    WindowFileName = record.WindowFileName;
    ZentrikWindowX->SetStrategyConfig(record.StrategyConfig);
    KeepRules = record.KeepRules;
    OfferRulesMenu();
    SetQuiet(record.Quiet);
}

void TAlertForm::OfferRulesMenu() {
    if (RulesMenuAdded || !IsInboxDataConfig(ZentrikWindowX->DataConfig()))
        return;
    ZentrikWindowX->AddCustomMenuItem(tr("Rules..."), RulesMenuId);
    RulesMenuAdded = true;
}

TLayoutInfo TAlertForm::WindowRecord() const {
    TLayoutInfo r;
    // A window never put anywhere, where the place cannot be read, keeps the default's.
    const TLayoutInfo& d = DefaultWindowRecord();
    const QPoint place = KeptWindowPos(*this, QPoint(d.Left, d.Top));
    r.Top = place.y();
    r.Left = place.x();
    r.Width = width();
    r.Height = height();
    r.WindowState = uint8_t(StoredWindowState(*this));
    r.FontCharset = FontCharset;
    r.FontColor = ZentrikWindowX->FontColor();
    const QFont font = ZentrikWindowX->Font();
    if (HasAppliedFont)
        r.FontPitch = AppliedFontRecord.FontPitch;
    StoreFontInRecord(font, r);
    // Height, size and pitch do not survive a trip through QFont exactly; while the font is
    // the one the record gave, they are written back as they were read.
    if (HasAppliedFont && font == AppliedFont) {
        r.FontHeight = AppliedFontRecord.FontHeight;
        r.FontSize = AppliedFontRecord.FontSize;
        r.FontPitch = AppliedFontRecord.FontPitch;
    }
    r.DataConfig = ZentrikWindowX->DataConfig();
    r.WindowConfig = ZentrikWindowX->WindowConfig();
    r.WindowFileName = WindowFileName;
    r.StrategyConfig = ZentrikWindowX->StrategyConfig();
    r.KeepRules = KeepRules;
    r.Quiet = Quiet;
    return r;
}

void TAlertForm::WriteAlertWindowFile(const QString& fileName, bool keepFileName) {
    const TLayoutInfo record = WindowRecord();
    const TSettingsStore store = TSettingsStore::IniFile(fileName);
    const QString section = AlertWindowSectionName();
    {
        // One replacement of the file: a failure leaves the old file as it was.
        TSettingsBatch batch(store);
        if (SectionExists(store, section))
            EraseSection(store, section);
        WriteWindowRecord(store, section, record, false);
        WriteActionsRecord(store, section, Actions);
        batch.Commit();
    }
    if (!keepFileName)
        WindowFileName = fileName;
}

TAlertForm* TAlertForm::DuplicateWindow() {
    auto copy = std::make_unique<TAlertForm>(parentWidget(), Desk);
    const QPoint ownPos = copy->pos();
    const bool ownPlaced = copy->testAttribute(Qt::WA_Moved);
    copy->move(pos());
    copy->resize(size());
    copy->setWindowState(windowState() & kPlacementStates);
    copy->FontCharset = FontCharset;
    copy->ZentrikWindowX->SetFont(ZentrikWindowX->Font());
    copy->AppliedFont = AppliedFont;
    copy->AppliedFontRecord = AppliedFontRecord;
    copy->HasAppliedFont = HasAppliedFont;
    copy->ZentrikWindowX->SetFontColor(ZentrikWindowX->FontColor());
    copy->ZentrikWindowX->SetDataConfig(ZentrikWindowX->DataConfig());
    copy->ZentrikWindowX->SetWindowConfig(ZentrikWindowX->WindowConfig());
    copy->WindowFileName = WindowFileName;
    copy->ZentrikWindowX->SetStrategyConfig(ZentrikWindowX->StrategyConfig());
    copy->KeepRules = KeepRules;
    copy->OfferRulesMenu();
    copy->SetQuiet(Quiet);
    // The copy keeps its own position; one the window system was to choose stays its choice.
    copy->move(ownPos);
    if (!ownPlaced)
        copy->setAttribute(Qt::WA_Moved, false);
    copy->WindowFileName = CopyWindowFileName(copy->WindowFileName);
    copy->show();
    FitToMonitor(copy.get());
    return copy.release();
}

void TAlertForm::SaveWindow() {
    EnsureSavedWindowsDir();
    zkPrompts::TFileDialogSpec spec;
    spec.DefaultExt = QStringLiteral("zka");
    spec.Filter = tr("Velquist files (*.zka)|*.zka|All files (*)|*");
    spec.InitialDir = SavedWindowsDir();
    spec.FileName = WindowFileName;
    spec.OverwritePrompt = true;
    spec.PathMustExist = true;
    if (spec.FileName.trimmed().isEmpty())
        spec.FileName = SanitizeWindowFileName(ZentrikWindowX->SuggestedFileName());
    QString chosen;
    if (!zkPrompts::SaveFileName(spec, chosen, this))
        return;
    WriteAlertWindowFile(chosen, false);
}

void TAlertForm::SetWindowAsDefault() {
    EnsureSavedWindowsDir();
    WriteAlertWindowFile(DefaultWindowFileName(), true);
    LoadDefaultWindowRecord();
    LoadDefaultActionLists();
}

void TAlertForm::SetWindowFont() {
    QFont font = ZentrikWindowX->Font();
    const int32_t oldColor = ZentrikWindowX->FontColor();
    QColor color = ColorFromFontColor(oldColor);
    if (!zkPrompts::ChooseFont(font, color, this))
        return;
    ZentrikWindowX->SetFont(font);
    ZentrikWindowX->SetFontColor(FontColorFromColor(color, oldColor));
}

void TAlertForm::EditQuietHours() {
    TQuietSettings quiet = Quiet;
    const QPointer<TAlertForm> self = this;
    const bool accepted = RunQuietHoursDialog(this, Desk ? &Desk->Windows() : nullptr, quiet);
    // The window may have closed while the dialog was open.
    if (accepted && self)
        SetQuiet(quiet);
}

void TAlertForm::ZentrikWindowXAlertSelected(QObject* /*Sender*/, IAlertData* Alert) {
    if (Alert)
        SelectedAlertActions(*this, *Alert);
}

void TAlertForm::ZentrikWindowXNewAlert(QObject* /*Sender*/, IAlertData* Alert) {
    if (!Alert)
        return;
    // Kept first: an action may close the window.
    if (Desk)
        if (IAlertLog* log = Desk->AlertLog())
            log->RecordAlert(windowTitle(), *Alert);
    Announcer->AlertArrived(windowTitle(), *Alert);
    NewAlertActions(*this, *Alert);
}

void TAlertForm::ZentrikWindowXCustomMenuItem(QObject* /*Sender*/, const QString& /*Display*/,
                                              int32_t ID) {
    switch (ID) {
    case ActionsMenuId:
        EditWindowActions(*this);
        break;
    case DuplicateWindowMenuId:
        DuplicateWindow();
        break;
    case SaveWindowMenuId:
        SaveWindow();
        break;
    case SetAsDefaultMenuId:
        SetWindowAsDefault();
        break;
    case SetFontMenuId:
        SetWindowFont();
        break;
    case RulesMenuId:
        EditWindowRules(*this);
        break;
    case QuietHoursMenuId:
        EditQuietHours();
        break;
    default:
        break; // the separator, or an entry that is not ours
    }
}

void TAlertForm::ZentrikWindowXWindowNameChanged(QObject* /*Sender*/) {
    UpdateCaption();
}

void TAlertForm::ZentrikWindowXAccountStatusChanged(QObject* /*Sender*/) {
    if (Desk)
        Desk->Account().RefreshAccountStatus();
}

QString CopyWindowFileName(const QString& fileName) {
    if (fileName.trimmed().isEmpty())
        return fileName;
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const QString folder = fileName.left(slash + 1);
    QString name = fileName.mid(slash + 1);
    const QString prefix = QStringLiteral("Copy of ");
    if (!name.startsWith(prefix, Qt::CaseInsensitive))
        name.prepend(prefix);
    return folder + name;
}

QString SanitizeWindowFileName(const QString& name) {
    static const QString forbidden = QStringLiteral("\"*/:<>?\\|");
    QString result = name;
    for (QChar& c : result) {
        if (forbidden.contains(c))
            c = QLatin1Char('_');
    }
    return result;
}
