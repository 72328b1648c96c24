#include "zkOptionsForm.h"

#include "alerts/zkActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "components/zkComponents.h"
#include "components/zkConnectionConfig.h"
#include "config/zkBrokerSettings.h"
#include "config/zkConfig.h"
#include "config/zkInboxSettings.h"
#include "config/zkLayoutSettings.h"
#include "config/zkThemeSettings.h"
#include "desk/zkAlertHub.h"
#include "desktop/zkAccessibility.h"
#include "history/zkHistorySettings.h"
#include "inbox/zkAlertInbox.h"
#include "options/zkBrokerPage.h"
#include "options/zkOptionsHost.h"
#include "options/zkOptionsIcons.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"
#include "platform/zkFontFit.h"
#include "platform/zkPrompts.h"
#include "updates/zkUpdateCheck.h"
#include "updates/zkUpdateForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

TOptionsForm* TheOptionsForm = nullptr;

const QString SettingsSection = QStringLiteral("Settings");

// Numeric fields of the dialog: anything that is not integer text counts as 0.
int32_t IntegerOrZero(const QString& text) {
    int32_t value = 0;
    return TryParseIntegerText(text, value) ? value : 0;
}

// Trigger and kind of an action string as numbers; false when either is no integer.
bool ActionTriggerAndKind(const QString& action, int32_t& trigger, int32_t& kind) {
    const TActionFields fields = SplitAction(action);
    return TryParseIntegerText(fields.Trigger, trigger) && TryParseIntegerText(fields.Kind, kind);
}

// The fields of the proxy of a type (1 HTTP, 2 SOCKS), as the page's four edits show them.
struct TProxyFields {
    QString* Host;
    int32_t* Port;
    QString* Username;
    QString* Password;
};
TProxyFields ProxyFields(TConnectionSettings& e, int type) {
    if (type == 2)
        return {&e.SocksHost, &e.SocksPort, &e.SocksUsername, &e.SocksPassword};
    return {&e.ProxyServer, &e.ProxyPort, &e.ProxyUsername, &e.ProxyPassword};
}

QLabel* Heading(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* Label(const QString& text, QWidget* parent, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    if (name)
        label->setObjectName(QString::fromLatin1(name));
    return label;
}

template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// An up-down pair of arrows that steps the integer in an edit within a range, as the edit's
// companion; text that is no integer steps from the lower bound. The arrows are named after the
// edit's accessible name.
QWidget* UpDown(QLineEdit* edit, int minimum, int maximum, const char* name) {
    auto* box = Named(new QWidget(edit->parentWidget()), name);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const int step : {1, -1}) {
        auto* arrow = new QToolButton(box);
        arrow->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setFixedSize(16, 11);
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setAccessibleName(
            (step > 0 ? TOptionsForm::tr("Increase %1") : TOptionsForm::tr("Decrease %1"))
                .arg(edit->accessibleName().toLower()));
        layout->addWidget(arrow);
        QObject::connect(arrow, &QToolButton::clicked, edit, [edit, minimum, maximum, step] {
            int32_t value = minimum;
            if (TryParseIntegerText(edit->text(), value))
                value = int32_t(std::clamp<int64_t>(int64_t(value) + step, minimum, maximum));
            edit->setText(QString::number(value));
        });
    }
    return box;
}

QTimeEdit* TimePicker(QWidget* parent, const char* name) {
    auto* picker = Named(new QTimeEdit(QTime(20, 0), parent), name);
    picker->setDisplayFormat(QStringLiteral("HH:mm"));
    return picker;
}

// The selected tree item is blue while the tree has the focus, and the menu-highlight colour
// otherwise.
class TPagesTreeDelegate : public QStyledItemDelegate {
public:
    explicit TPagesTreeDelegate(QTreeWidget* tree) : QStyledItemDelegate(tree), Tree(tree) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor fill = Tree->hasFocus()
                                ? QColor(0, 0, 255)
                                : QApplication::palette("QMenu").color(QPalette::Highlight);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            option->palette.setColor(group, QPalette::Highlight, fill);
            option->palette.setColor(group, QPalette::HighlightedText, Qt::white);
        }
    }

private:
    QTreeWidget* Tree;
};

} // namespace

TOptionsForm* OptionsForm() {
    return TheOptionsForm;
}

TOptionsForm::TOptionsForm(IOptionsHost* host, QWidget* owner) : QDialog(owner), Host(host) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(tr("Options"));
    // Fixed single border with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    zkFontFit::FixedSizeAtLeast(this, QSize(575, 428)); // grown for a large desktop font

    PagesTreeView = Named(new QTreeWidget(this), "PagesTreeView");
    PagesTreeView->setAccessibleName(tr("Pages"));
    // Hidden, but screen readers still read the header: Qt would name its column "1".
    PagesTreeView->setHeaderLabel(tr("Pages"));
    PagesTreeView->setHeaderHidden(true);
    PagesTreeView->setRootIsDecorated(false);
    PagesTreeView->setItemsExpandable(false);
    PagesTreeView->setIndentation(0);
    PagesTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PagesTreeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    PagesTreeView->setIconSize(QSize(32, 32));
    PagesTreeView->setFixedWidth(140);
    PagesTreeView->setItemDelegate(new TPagesTreeDelegate(PagesTreeView));
    PagesTreeView->installEventFilter(this);

    PagesControl = Named(new QTabWidget(this), "PagesControl");
    PagesControl->tabBar()->hide(); // the tree is the only way between pages
    // Nor may Tab stop at the hidden tabs: Tab from the tree goes into the page.
    PagesControl->setFocusPolicy(Qt::NoFocus);
    PagesControl->tabBar()->setFocusPolicy(Qt::NoFocus);
    PagesControl->setIconSize(QSize(16, 16));

    const struct {
        QString Text;
        QIcon Icon;
        QWidget* Page;
    } pages[] = {
        {tr("General"), OptionsIcon(TOptionsIcon::General), BuildGeneralPage()},
        {tr("Connection"), OptionsIcon(TOptionsIcon::Connection), BuildConnectionPage()},
        {tr("Updates"), OptionsIcon(TOptionsIcon::Updates), BuildUpdatesPage()},
        {tr("Layouts"), OptionsIcon(TOptionsIcon::Layouts), BuildLayoutsPage()},
        {tr("Alert Inbox"), OptionsIcon(TOptionsIcon::Inbox), BuildInboxPage()},
        {tr("Broker"), OptionsIcon(TOptionsIcon::Broker), BrokerPage = new TBrokerPage},
    };
    for (const auto& page : pages) {
        auto* item = new QTreeWidgetItem(PagesTreeView, QStringList(page.Text));
        item->setIcon(0, page.Icon);
        item->setSizeHint(0, QSize(120, 44));
        PagesControl->addTab(page.Page, page.Icon, page.Text);
    }
    connect(PagesTreeView, &QTreeWidget::itemSelectionChanged, this,
            [this] { PagesTreeViewChange(); });

    SaveButton = Named(new QPushButton(tr("Save"), this), "SaveButton");
    CancelButton = Named(new QPushButton(tr("Cancel"), this), "CancelButton");
    SaveButton->setDefault(true);
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(PagesTreeView);
    top->addWidget(PagesControl, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    TheOptionsForm = this;
    connect(this, &QObject::destroyed, [] { TheOptionsForm = nullptr; });
}

QWidget* TOptionsForm::BuildGeneralPage() {
    GeneralTabSheet = Named(new QWidget, "GeneralTabSheet");
    QWidget* p = GeneralTabSheet;
    ClickRadioButton = Named(new QRadioButton(tr("Click on an alert"), p), "ClickRadioButton");
    DoubleClickRadioButton =
        Named(new QRadioButton(tr("Double-click on an alert"), p), "DoubleClickRadioButton");
    DoubleClickRadioButton->setChecked(true);
    auto* gesture = new QButtonGroup(p);
    gesture->addButton(ClickRadioButton);
    gesture->addButton(DoubleClickRadioButton);
    ContextHelpCheckBox = Named(new QCheckBox(tr("Enable Help"), p), "ContextHelpCheckBox");
    ShowGridLinesCheckBox =
        Named(new QCheckBox(tr("Show grid lines in alert window"), p), "ShowGridLinesCheckBox");
    AnnounceAlertsCheckBox = Named(new QCheckBox(tr("Announce new alerts to screen readers"), p),
                                   "AnnounceAlertsCheckBox");

    TimeZoneGroupBox = Named(new QGroupBox(p), "TimeZoneGroupBox");
    QWidget* g = TimeZoneGroupBox;
    AddOffsetRadioButton = Named(new QRadioButton(tr("Add"), g), "AddOffsetRadioButton");
    SubtractOffsetRadioButton =
        Named(new QRadioButton(tr("Subtract"), g), "SubtractOffsetRadioButton");
    AddOffsetRadioButton->setChecked(true);
    HoursOffsetEdit = Named(new QLineEdit(QStringLiteral("0"), g), "HoursOffsetEdit");
    MinutesOffsetEdit = Named(new QLineEdit(QStringLiteral("0"), g), "MinutesOffsetEdit");
    for (QLineEdit* edit : {HoursOffsetEdit, MinutesOffsetEdit})
        edit->setFixedWidth(40);
    HoursOffsetEdit->setAccessibleName(tr("Hours"));
    MinutesOffsetEdit->setAccessibleName(tr("Minutes"));
    TimeZoneGroupBox->setAccessibleName(tr("Time offset"));
    auto* direction = new QVBoxLayout;
    direction->setSpacing(2);
    direction->addWidget(AddOffsetRadioButton);
    direction->addWidget(SubtractOffsetRadioButton);
    auto* offset = new QHBoxLayout(g);
    offset->setContentsMargins(9, 4, 9, 4);
    offset->addLayout(direction);
    offset->addSpacing(12);
    offset->addWidget(HoursOffsetEdit);
    offset->addWidget(UpDown(HoursOffsetEdit, 0, 23, "HoursOffsetUpDown"));
    offset->addWidget(Label(tr("hours and"), g));
    offset->addWidget(MinutesOffsetEdit);
    offset->addWidget(UpDown(MinutesOffsetEdit, 0, 59, "MinutesOffsetUpDown"));
    offset->addWidget(Label(tr("minutes."), g));
    offset->addStretch(1);

    auto* text8 = Label(tr("Enter direction and value of time offset to change the time zone "
                           "used to display times in the alert window. Leave zeros to use "
                           "local time."),
                        p, "Label8");
    text8->setWordWrap(true);

    auto* layout = new QVBoxLayout(p);
    // Close rows: the fixed page holds more settings than it was first drawn for.
    layout->setSpacing(4);
    layout->addWidget(Heading(tr("Integration support"), p, "Label11"));
    layout->addWidget(
        Label(tr("Send an alert to a list of linked windows when I ...."), p, "Label1"));
    layout->addWidget(ClickRadioButton);
    layout->addWidget(DoubleClickRadioButton);
    layout->addSpacing(6);
    layout->addWidget(Heading(tr("Context sensitive Help"), p, "Label2"));
    layout->addWidget(
        Label(tr("Click on an icon to see help for that alert or filter"), p, "Label3"));
    // The theme sits beside the two check boxes: the page has the dialog's fixed height and
    // no room for another row. Its items are in the order of TThemeChoice.
    ThemeComboBox = Named(new QComboBox(p), "ThemeComboBox");
    ThemeComboBox->addItems({tr("Follow the desktop"), tr("Light"), tr("Dark")});
    ThemeComboBox->setAccessibleName(tr("Theme"));
    auto* themeLabel = Label(tr("Theme:"), p, "ThemeLabel");
    themeLabel->setBuddy(ThemeComboBox);
    auto* checks = new QGridLayout;
    checks->setVerticalSpacing(0);
    checks->addWidget(ContextHelpCheckBox, 0, 0);
    checks->addWidget(ShowGridLinesCheckBox, 1, 0);
    checks->addWidget(AnnounceAlertsCheckBox, 2, 0, 1, 2);
    checks->addWidget(themeLabel, 0, 1, Qt::AlignBottom);
    checks->addWidget(ThemeComboBox, 1, 1);
    checks->setColumnStretch(0, 1);
    // Made after the time zone's controls, it would come after them in Tab order: it comes
    // where it stands, beside the grid lines box and above the announcements box.
    setTabOrder(ShowGridLinesCheckBox, ThemeComboBox);
    setTabOrder(ThemeComboBox, AnnounceAlertsCheckBox);
    layout->addLayout(checks);
    layout->addSpacing(6);
    layout->addWidget(Heading(tr("Time Zone"), p, "Label7"));
    layout->addWidget(text8);
    layout->addWidget(TimeZoneGroupBox);
    // No heading of its own: the page has the dialog's fixed height, and one more heading
    // would squeeze the time zone box.
    HistoryDaysSpinBox = Named(new QSpinBox(p), "HistoryDaysSpinBox");
    HistoryDaysSpinBox->setRange(0, MaxHistoryDays);
    HistoryDaysSpinBox->setValue(DefaultHistoryDays);
    HistoryDaysSpinBox->setToolTip(tr("0 keeps no alert history"));
    auto* historyLabel = Label(tr("Keep alert history for"), p, "HistoryDaysLabel");
    historyLabel->setBuddy(HistoryDaysSpinBox);
    auto* history = new QHBoxLayout;
    history->addWidget(historyLabel);
    history->addWidget(HistoryDaysSpinBox);
    history->addWidget(Label(tr("days"), p, "HistoryDaysUnitLabel"));
    history->addStretch(1);
    layout->addLayout(history);
    layout->addStretch(1);
    return p;
}

QWidget* TOptionsForm::BuildConnectionPage() {
    ConnectionTabSheet = Named(new QWidget, "ConnectionTabSheet");
    QWidget* p = ConnectionTabSheet;
    UseHTTPCheckBox =
        Named(new QCheckBox(tr("Use HTTP port 80 for connection"), p), "UseHTTPCheckBox");
    ProxyTypeComboBox = Named(new QComboBox(p), "ProxyTypeComboBox");
    ProxyTypeComboBox->addItems({tr("None"), tr("HTTP"), tr("SOCKS")});
    connect(ProxyTypeComboBox, &QComboBox::activated, this, [this] { UpdateProxyControls(); });

    SOCKSVersionLabel = Label(tr("SOCKS version"), p, "SOCKSVersionLabel");
    SOCKSVersionEdit = Named(new QLineEdit(p), "SOCKSVersionEdit");
    HostLabel = Label(tr("Host"), p, "HostLabel");
    HostEdit = Named(new QLineEdit(p), "HostEdit");
    PortLabel = Label(tr("Port"), p, "PortLabel");
    PortEdit = Named(new QLineEdit(p), "PortEdit");
    UsernameLabel = Label(tr("Username"), p, "UsernameLabel");
    UsernameEdit = Named(new QLineEdit(p), "UsernameEdit");
    PasswordLabel = Label(tr("Password"), p, "PasswordLabel");
    PasswordEdit = Named(new QLineEdit(p), "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    SOCKSVersionEdit->setFixedWidth(60);
    PortEdit->setFixedWidth(60);
    SOCKSVersionLabel->setBuddy(SOCKSVersionEdit);
    HostLabel->setBuddy(HostEdit);
    PortLabel->setBuddy(PortEdit);
    UsernameLabel->setBuddy(UsernameEdit);
    PasswordLabel->setBuddy(PasswordEdit);
    zkAccessibility::SetLabel(ProxyTypeComboBox, tr("Proxy type"));

    auto* grid = new QGridLayout;
    // The rows below stay in place while the version is hidden.
    for (QWidget* w : std::initializer_list<QWidget*>{SOCKSVersionLabel, SOCKSVersionEdit}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    grid->addWidget(SOCKSVersionLabel, 0, 0);
    grid->addWidget(SOCKSVersionEdit, 0, 1, Qt::AlignLeft);
    grid->addWidget(HostLabel, 1, 0);
    grid->addWidget(HostEdit, 1, 1);
    grid->addWidget(PortLabel, 2, 0);
    grid->addWidget(PortEdit, 2, 1, Qt::AlignLeft);
    grid->addWidget(UsernameLabel, 3, 0);
    grid->addWidget(UsernameEdit, 3, 1);
    grid->addWidget(PasswordLabel, 4, 0);
    grid->addWidget(PasswordEdit, 4, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(p);
    layout->addWidget(Heading(tr("HTTP Tunneling"), p, "Label12"));
    layout->addWidget(UseHTTPCheckBox);
    layout->addSpacing(10);
    layout->addWidget(Heading(tr("Proxy configuration"), p, "Label13"));
    layout->addWidget(ProxyTypeComboBox, 0, Qt::AlignLeft);
    layout->addLayout(grid);
    layout->addStretch(1);
    return p;
}

QWidget* TOptionsForm::BuildUpdatesPage() {
    UpdatesTabSheet = Named(new QWidget, "UpdatesTabSheet");
    QWidget* p = UpdatesTabSheet;
    UpdateAtStartupCheckBox =
        Named(new QCheckBox(tr("Check for updates at application startup"), p),
              "UpdateAtStartupCheckBox");
    UpdateAtTimeCheckBox = Named(new QCheckBox(tr("Check for updates at the following time:"), p),
                                 "UpdateAtTimeCheckBox");
    // However the box changes (a click, the keyboard, a screen reader's toggle, a load).
    connect(UpdateAtTimeCheckBox, &QCheckBox::toggled, this, [this] { UpdateScheduleControls(); });

    DailyNYMidnightRadioButton = Named(new QRadioButton(tr("Daily, at midnight New York time"), p),
                                       "DailyNYMidnightRadioButton");
    DailyLocalTimeRadioButton =
        Named(new QRadioButton(tr("Daily, at "), p), "DailyLocalTimeRadioButton");
    DailyTimePicker = TimePicker(p, "DailyTimePicker");
    DailyLocalTimeLabel = Label(tr("local time"), p, "DailyLocalTimeLabel");
    WeeklyRadioButton = Named(new QRadioButton(tr("Weekly,  every "), p), "WeeklyRadioButton");
    WeekdayComboBox = Named(new QComboBox(p), "WeekdayComboBox");
    WeekdayComboBox->addItems({tr("Monday"), tr("Tuesday"), tr("Wednesday"), tr("Thursday"),
                               tr("Friday"), tr("Saturday"), tr("Sunday")});
    WeeklyAtLabel = Label(tr("at "), p, "WeeklyAtLabel");
    WeeklyTimePicker = TimePicker(p, "WeeklyTimePicker");
    WeeklyLocalTimeLabel = Label(tr("local time"), p, "WeeklyLocalTimeLabel");
    MonthlyRadioButton = Named(new QRadioButton(tr("Montly,  every "), p), "MonthlyRadioButton");
    DayComboBox = Named(new QComboBox(p), "DayComboBox");
    for (int day = 1; day <= 31; ++day)
        DayComboBox->addItem(QString::number(day));
    MonthlyDayAtLabel = Label(tr(" day at "), p, "MonthlyDayAtLabel");
    MonthlyTimePicker = TimePicker(p, "MonthlyTimePicker");
    MonthlyLocalTimeLabel = Label(tr("local time"), p, "MonthlyLocalTimeLabel");
    CheckNowButton = Named(new QPushButton(tr("Check Now"), p), "CheckNowButton");
    DailyTimePicker->setAccessibleName(tr("Daily update time"));
    WeeklyTimePicker->setAccessibleName(tr("Weekly update time"));
    MonthlyTimePicker->setAccessibleName(tr("Monthly update time"));
    zkAccessibility::SetLabel(WeekdayComboBox, tr("Day of the week"));
    zkAccessibility::SetLabel(DayComboBox, tr("Day of the month"));
    connect(CheckNowButton, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { CheckNowButtonClick(); }); });

    ScheduleControls = {
        DailyNYMidnightRadioButton, DailyLocalTimeRadioButton, DailyTimePicker, DailyLocalTimeLabel,
        WeeklyRadioButton,          WeekdayComboBox,           WeeklyAtLabel,   WeeklyTimePicker,
        WeeklyLocalTimeLabel,       MonthlyRadioButton,        DayComboBox,     MonthlyDayAtLabel,
        MonthlyTimePicker,          MonthlyLocalTimeLabel};

    auto row = [](std::initializer_list<QWidget*> widgets) {
        auto* line = new QHBoxLayout;
        line->setContentsMargins(20, 0, 0, 0);
        for (QWidget* w : widgets)
            line->addWidget(w);
        line->addStretch(1);
        return line;
    };
    auto* layout = new QVBoxLayout(p);
    layout->addWidget(UpdateAtStartupCheckBox);
    layout->addSpacing(6);
    layout->addWidget(UpdateAtTimeCheckBox);
    layout->addLayout(row({DailyNYMidnightRadioButton}));
    layout->addLayout(row({DailyLocalTimeRadioButton, DailyTimePicker, DailyLocalTimeLabel}));
    layout->addLayout(row({WeeklyRadioButton, WeekdayComboBox, WeeklyAtLabel, WeeklyTimePicker,
                           WeeklyLocalTimeLabel}));
    layout->addLayout(row({MonthlyRadioButton, DayComboBox, MonthlyDayAtLabel, MonthlyTimePicker,
                           MonthlyLocalTimeLabel}));
    layout->addSpacing(12);
    layout->addWidget(CheckNowButton, 0, Qt::AlignLeft);
    layout->addStretch(1);
    return p;
}

QWidget* TOptionsForm::BuildInboxPage() {
    InboxTabSheet = Named(new QWidget, "InboxTabSheet");
    QWidget* p = InboxTabSheet;
    InboxEnabledCheckBox =
        Named(new QCheckBox(tr("Accept alerts from other programs"), p), "InboxEnabledCheckBox");
    InboxPortSpinBox = Named(new QSpinBox(p), "InboxPortSpinBox");
    InboxPortSpinBox->setRange(1, 65535);
    InboxPortSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    InboxPortSpinBox->setFixedWidth(70);
    InboxAddressEdit = Named(new QLineEdit(p), "InboxAddressEdit");
    InboxAddressEdit->setReadOnly(true);
    InboxCopyButton = Named(new QPushButton(tr("Copy"), p), "InboxCopyButton");
    InboxTokenEdit = Named(new QLineEdit(p), "InboxTokenEdit");
    InboxTokenEdit->setReadOnly(true);
    InboxNewTokenButton = Named(new QPushButton(tr("New Token"), p), "InboxNewTokenButton");
    InboxOpenWindowsCheckBox =
        Named(new QCheckBox(tr("Open a window for a new strategy"), p), "InboxOpenWindowsCheckBox");
    InboxStatusLabel = Label(QString(), p, "InboxStatusLabel");
    InboxStatusLabel->setWordWrap(true);
    // It may carry a system error text.
    InboxStatusLabel->setTextFormat(Qt::PlainText);

    connect(InboxEnabledCheckBox, &QCheckBox::toggled, this, [this] { UpdateInboxControls(); });
    connect(InboxPortSpinBox, &QSpinBox::valueChanged, this, [this] { UpdateInboxControls(); });
    connect(InboxCopyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(InboxAddressEdit->text()); });
    connect(InboxNewTokenButton, &QPushButton::clicked, this, [this] {
        InboxTokenEdit->setText(NewInboxToken());
        UpdateInboxControls();
    });

    // The address and token take whole rows: they are long, and the address is what a user
    // reads and copies.
    auto* grid = new QGridLayout;
    grid->setContentsMargins(20, 0, 0, 0);
    auto* portRow = new QHBoxLayout;
    auto* portLabel = Label(tr("Port"), p, "InboxPortLabel");
    portLabel->setBuddy(InboxPortSpinBox);
    portRow->addWidget(portLabel);
    portRow->addWidget(InboxPortSpinBox);
    portRow->addStretch(1);
    grid->addLayout(portRow, 0, 0, 1, 2);
    auto* addressLabel = Label(tr("Address to paste into a webhook:"), p, "InboxAddressLabel");
    addressLabel->setBuddy(InboxAddressEdit);
    grid->addWidget(addressLabel, 1, 0, 1, 2);
    grid->addWidget(InboxAddressEdit, 2, 0);
    grid->addWidget(InboxCopyButton, 2, 1);
    auto* tokenLabel = Label(tr("Token:"), p, "InboxTokenLabel");
    tokenLabel->setBuddy(InboxTokenEdit);
    grid->addWidget(tokenLabel, 3, 0, 1, 2);
    grid->addWidget(InboxTokenEdit, 4, 0);
    grid->addWidget(InboxNewTokenButton, 4, 1);
    grid->setColumnStretch(0, 1);
    auto* layout = new QVBoxLayout(p);
    layout->addWidget(InboxEnabledCheckBox);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(InboxOpenWindowsCheckBox);
    layout->addSpacing(6);
    layout->addWidget(InboxStatusLabel);
    layout->addStretch(1);
    return p;
}

QWidget* TOptionsForm::BuildLayoutsPage() {
    LayoutsTabSheet = Named(new QWidget, "LayoutsTabSheet");
    QWidget* p = LayoutsTabSheet;

    SaveGroupBox = Named(new QGroupBox(tr("Save Layout"), p), "SaveGroupBox");
    OnExitRadioGroup = Named(new QGroupBox(tr("On Exit"), SaveGroupBox), "OnExitRadioGroup");
    OnExitButtons = new QButtonGroup(OnExitRadioGroup);
    auto* onExit = new QVBoxLayout(OnExitRadioGroup);
    const char* names[] = {"AlwaysSaveRadioButton", "NeverSaveRadioButton", "AskSaveRadioButton"};
    const QString captions[] = {tr("Always save layout"), tr("Never save layout"),
                                tr("Ask to save layout")};
    for (int i = 0; i < 3; ++i) {
        auto* button = Named(new QRadioButton(captions[i], OnExitRadioGroup), names[i]);
        OnExitButtons->addButton(button, i);
        onExit->addWidget(button);
    }
    OnExitButtons->button(2)->setChecked(true);
    SaveNameEdit = Named(new QLineEdit(SaveGroupBox), "SaveNameEdit");
    SaveBrowseButton = Named(new QPushButton(tr("Browse..."), SaveGroupBox), "SaveBrowseButton");
    SameAsBelowButton =
        Named(new QPushButton(tr("Same As Below"), SaveGroupBox), "SameAsBelowButton");
    auto* saveName = new QHBoxLayout;
    auto* saveNameLabel = Label(tr("File Name:"), SaveGroupBox);
    saveNameLabel->setBuddy(SaveNameEdit);
    saveName->addWidget(saveNameLabel);
    saveName->addWidget(SaveNameEdit, 1);
    saveName->addWidget(SaveBrowseButton);
    auto* saveLayout = new QVBoxLayout(SaveGroupBox);
    saveLayout->addWidget(OnExitRadioGroup);
    saveLayout->addLayout(saveName);
    saveLayout->addWidget(SameAsBelowButton, 0, Qt::AlignRight);

    LoadGroupBox = Named(new QGroupBox(tr("Load Layout"), p), "LoadGroupBox");
    LoadOnStartCheckBox =
        Named(new QCheckBox(tr("Load Layout On Start"), LoadGroupBox), "LoadOnStartCheckBox");
    LoadNameEdit = Named(new QLineEdit(LoadGroupBox), "LoadNameEdit");
    LoadBrowseButton = Named(new QPushButton(tr("Browse..."), LoadGroupBox), "LoadBrowseButton");
    SameAsAboveButton =
        Named(new QPushButton(tr("Same As Above"), LoadGroupBox), "SameAsAboveButton");
    auto* loadName = new QHBoxLayout;
    auto* loadNameLabel = Label(tr("File Name:"), LoadGroupBox);
    loadNameLabel->setBuddy(LoadNameEdit);
    loadName->addWidget(loadNameLabel);
    loadName->addWidget(LoadNameEdit, 1);
    loadName->addWidget(LoadBrowseButton);
    auto* loadLayout = new QVBoxLayout(LoadGroupBox);
    loadLayout->addWidget(LoadOnStartCheckBox);
    loadLayout->addLayout(loadName);
    loadLayout->addWidget(SameAsAboveButton, 0, Qt::AlignRight);

    RestoreDefaultsButton =
        Named(new QPushButton(tr("Restore Defaults"), p), "RestoreDefaultsButton");

    connect(SameAsBelowButton, &QPushButton::clicked, this, [this] { SameAsBelowButtonClick(); });
    connect(SameAsAboveButton, &QPushButton::clicked, this, [this] { SameAsAboveButtonClick(); });
    connect(RestoreDefaultsButton, &QPushButton::clicked, this,
            [this] { RestoreDefaultsButtonClick(); });
    connect(SaveBrowseButton, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { SaveBrowseButtonClick(); }); });
    connect(LoadBrowseButton, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { LoadBrowseButtonClick(); }); });

    auto* layout = new QVBoxLayout(p);
    layout->addWidget(SaveGroupBox);
    layout->addWidget(LoadGroupBox);
    layout->addWidget(RestoreDefaultsButton, 0, Qt::AlignRight);
    layout->addStretch(1);
    return p;
}

IConnectionControl& TOptionsForm::Connection() const {
    IConnectionControl* connection = Host ? Host->OptionsConnection() : nullptr;
    if (!connection)
        throw EComponentError(tr("The connection component is not available"));
    return *connection;
}

TUpdateForm* TOptionsForm::UpdateForm() const {
    return Host ? Host->OptionsUpdateForm() : nullptr;
}

// --- showing and navigation ---------------------------------------------------------------

void TOptionsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ReportErrors([this] { FormShow(); });
}

void TOptionsForm::FormShow() {
    LoadAllPages();
    PagesTreeView->setCurrentItem(PagesTreeView->topLevelItem(0));
    ShowPage(0);
}

bool TOptionsForm::eventFilter(QObject* watched, QEvent* event) {
    // The selection colour follows the tree's focus.
    if (watched == PagesTreeView &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        PagesTreeView->viewport()->update();
    return QDialog::eventFilter(watched, event);
}

void TOptionsForm::PagesTreeViewChange() {
    // The selection, not the current item: a selection made without moving the current item
    // (as assistive technologies make it) must change the page too.
    const QList<QTreeWidgetItem*> selection = PagesTreeView->selectedItems();
    if (selection.isEmpty())
        return;
    const QTreeWidgetItem* selected = selection.constFirst();
    for (int i = 0; i < PagesTreeView->topLevelItemCount(); ++i)
        if (PagesTreeView->topLevelItem(i)->text(0) == selected->text(0)) {
            ShowPage(i);
            return;
        }
}

void TOptionsForm::ShowPage(int Index) {
    if (Index < 0 || Index >= PagesControl->count())
        return;
    for (int i = 0; i < PagesControl->count(); ++i)
        PagesControl->setTabVisible(i, i == Index);
    PagesControl->setCurrentIndex(Index);
}

// --- loading --------------------------------------------------------------------------------

void TOptionsForm::LoadAllPages() {
    LoadGeneralPage();
    LoadConnectionPage();
    LoadUpdatesPage();
    LoadInboxPage();
    BrokerPage->Load(ReadBrokerSettings(TSettingsStore::Registry()),
                     Host ? Host->OptionsAlertHub() : nullptr);
    if (Host)
        LoadLayoutsPage(Host->OptionsLayoutSettings());
}

void TOptionsForm::LoadGeneralPage() {
    DoubleClickRadioButton->setChecked(true);
    LoadDefaultActionLists();
    for (const QString& action : std::as_const(DefaultWindowActions())) {
        int32_t trigger = 0, kind = 0;
        if (ActionTriggerAndKind(action, trigger, kind) && trigger == 3 && kind == 4)
            ClickRadioButton->setChecked(true);
    }
    IConnectionControl& connection = Connection();
    ShowGrid = connection.ShowGrid();
    HelpMode = connection.HelpMode();
    TimeOffset = connection.TimeOffset();
    ContextHelpCheckBox->setChecked(HelpMode != 0);
    ShowGridLinesCheckBox->setChecked(ShowGrid != 0);
    const int64_t magnitude = std::llabs(int64_t(TimeOffset));
    HoursOffsetEdit->setText(QString::number(magnitude / 60));
    MinutesOffsetEdit->setText(QString::number(magnitude % 60));
    (TimeOffset < 0 ? SubtractOffsetRadioButton : AddOffsetRadioButton)->setChecked(true);
    HistoryDaysSpinBox->setValue(ReadHistoryDays(TSettingsStore::Registry()));
    ThemeComboBox->setCurrentIndex(int(ReadThemeChoice(TSettingsStore::Registry())));
    AnnounceAlertsCheckBox->setChecked(ReadAnnounceAlerts(TSettingsStore::Registry()));
}

void TOptionsForm::LoadConnectionPage() {
    const IConnectionControl& c = Connection();
    EditedConnection = {c.UseHttpTunnel(), c.ProxyServer(),  c.ProxyPort(), c.ProxyUsername(),
                        c.ProxyPassword(), c.SocksHost(),    c.SocksPort(), c.SocksVersion(),
                        c.SocksUsername(), c.SocksPassword()};
    const TConnectionSettings& e = EditedConnection;
    UseHTTPCheckBox->setChecked(e.UseHttpTunnel != 0);
    const int type = !e.SocksHost.trimmed().isEmpty()     ? 2
                     : !e.ProxyServer.trimmed().isEmpty() ? 1
                                                          : 0;
    ProxyTypeComboBox->setCurrentIndex(type);
    if (type > 0) {
        const TProxyFields proxy = ProxyFields(EditedConnection, type);
        HostEdit->setText(*proxy.Host);
        PortEdit->setText(QString::number(*proxy.Port));
        UsernameEdit->setText(*proxy.Username);
        PasswordEdit->setText(*proxy.Password);
        if (type == 2)
            SOCKSVersionEdit->setText(QString::number(e.SocksVersion));
    } else {
        for (QLineEdit* edit : {HostEdit, PortEdit, UsernameEdit, PasswordEdit})
            edit->clear();
    }
    UpdateProxyControls();
}

void TOptionsForm::UpdateProxyControls() {
    const int type = ProxyTypeComboBox->currentIndex();
    for (QWidget* w :
         std::initializer_list<QWidget*>{HostLabel, HostEdit, PortLabel, PortEdit, UsernameLabel,
                                         UsernameEdit, PasswordLabel, PasswordEdit})
        w->setEnabled(type > 0);
    SOCKSVersionLabel->setVisible(type == 2);
    SOCKSVersionEdit->setVisible(type == 2);
}

void TOptionsForm::LoadUpdatesPage() {
    TUpdateForm* update = UpdateForm();
    if (!update)
        return;
    update->LoadSchedule();
    const TUpdateSchedule& s = update->Schedule;
    UpdateAtStartupCheckBox->setChecked(s.UpdateAtStartup);
    UpdateAtTimeCheckBox->setChecked(s.UpdateAtTime);
    if (s.UpdateAtTime) {
        QTimeEdit* picker = nullptr;
        switch (s.UpdateSchedule) {
        case 2:
            DailyLocalTimeRadioButton->setChecked(true);
            picker = DailyTimePicker;
            break;
        case 3:
            WeeklyRadioButton->setChecked(true);
            WeekdayComboBox->setCurrentIndex(s.UpdateDayOfWeek - 1);
            picker = WeeklyTimePicker;
            break;
        case 4:
            MonthlyRadioButton->setChecked(true);
            DayComboBox->setCurrentIndex(s.UpdateDayNumber - 1);
            picker = MonthlyTimePicker;
            break;
        default:
            DailyNYMidnightRadioButton->setChecked(true);
            break;
        }
        if (picker)
            picker->setTime(QTime::fromMSecsSinceStartOfDay(int(TimeOfDayMs(s.UpdateTime))));
    }
    UpdateScheduleControls();
}

void TOptionsForm::UpdateScheduleControls() {
    const bool enabled = UpdateAtTimeCheckBox->isChecked();
    for (QWidget* w : std::as_const(ScheduleControls))
        w->setEnabled(enabled);
}

void TOptionsForm::LoadLayoutsPage(const TLayoutSettings& settings) {
    // A stored choice outside the three leaves none checked, as it was.
    OnExitButtons->setExclusive(false);
    for (QAbstractButton* button : OnExitButtons->buttons())
        button->setChecked(OnExitButtons->id(button) == settings.SaveOnExit);
    OnExitButtons->setExclusive(true);
    SaveNameEdit->setText(settings.SaveLayoutName);
    LoadNameEdit->setText(settings.LoadLayoutName);
    LoadOnStartCheckBox->setChecked(settings.LoadOnStart);
}

// --- buttons --------------------------------------------------------------------------------

void TOptionsForm::CheckNowButtonClick() {
    if (TUpdateForm* update = UpdateForm())
        update->RequestUpdateInfo(true);
}

void TOptionsForm::SameAsBelowButtonClick() {
    SaveNameEdit->setText(LoadNameEdit->text());
}

void TOptionsForm::SameAsAboveButtonClick() {
    LoadNameEdit->setText(SaveNameEdit->text());
}

void TOptionsForm::RestoreDefaultsButtonClick() {
    TLayoutSettings defaults;
    SetLayoutDefaults(defaults);
    LoadLayoutsPage(defaults);
}

void TOptionsForm::SaveBrowseButtonClick() {
    BrowseLayout(true);
}

void TOptionsForm::LoadBrowseButtonClick() {
    BrowseLayout(false);
}

void TOptionsForm::BrowseLayout(bool forSave) {
    const QString folder = SavedWindowsDir();
    QDir().mkpath(folder);
    zkPrompts::TFileDialogSpec spec;
    spec.Title = tr("Select File");
    spec.InitialDir = folder;
    spec.DefaultExt = QStringLiteral("zkl");
    spec.Filter = tr("Velquist Layout files (*.zkl)|*.zkl|All files (*)|*");
    spec.PathMustExist = true;
    spec.OverwritePrompt = false;
    spec.NoReadOnlyReturn = forSave;
    QString name;
    const bool chosen = forSave ? zkPrompts::SaveFileName(spec, name, this)
                                : zkPrompts::OpenFileName(spec, name, this);
    if (chosen)
        (forSave ? SaveNameEdit : LoadNameEdit)->setText(name);
}

void TOptionsForm::SaveButtonClick() {
    // A port the inbox cannot have is told at once, and the dialog stays with nothing saved:
    // the listener that works goes on, and the user chooses again.
    QString problem;
    if (!ApplyInboxPage(&problem)) {
        ShowPage(PagesControl->indexOf(InboxTabSheet));
        UpdateInboxControls();
        zkPrompts::MessageBox(
            tr("The alert inbox cannot listen on port %1: %2.\n\nChoose another port, or turn "
               "the inbox off. Nothing was saved.")
                .arg(InboxPortSpinBox->value())
                .arg(problem),
            ApplicationTitle(), zkPrompts::TIcon::Warning, zkPrompts::TButtons::OK, this);
        InboxPortSpinBox->setFocus();
        InboxPortSpinBox->selectAll();
        return;
    }
    // The dialog closes with OK even when a step fails (the report says which), so the main
    // window still applies what was saved before it.
    ReportErrors([this] { SaveAllPages(); });
    accept();
}

// --- saving ---------------------------------------------------------------------------------

void TOptionsForm::SaveAllPages() {
    SaveGeneralPage();
    SaveConnectionPage();
    SaveUpdatesPage();
    SaveLayoutsPage();
    SaveInboxPage();
    SaveBrokerPage();
}

void TOptionsForm::SaveGeneralPage() {
    // 1. The gesture is the trigger of every send-to-a-list selection entry.
    SetSelectionTrigger(DefaultWindowActions(), ClickRadioButton->isChecked() ? 3 : 2);
    LayoutDefaultActions() = DefaultWindowActions();
    SaveDefaultActionLists();

    // 2., 3. A part that is no integer, or a sum beyond 32 bits, gives no offset at all.
    HelpMode = ContextHelpCheckBox->isChecked() ? 1 : 0;
    ShowGrid = ShowGridLinesCheckBox->isChecked() ? 1 : 0;
    int32_t hours = 0, minutes = 0;
    int64_t offset = 0;
    if (TryParseIntegerText(HoursOffsetEdit->text(), hours) &&
        TryParseIntegerText(MinutesOffsetEdit->text(), minutes)) {
        offset = int64_t(hours) * 60 + minutes;
        if (SubtractOffsetRadioButton->isChecked())
            offset = -offset;
        if (offset < std::numeric_limits<int32_t>::min() ||
            offset > std::numeric_limits<int32_t>::max())
            offset = 0;
    }
    TimeOffset = int32_t(offset);

    // 4.
    IConnectionControl& connection = Connection();
    connection.SetHelpMode(HelpMode);
    connection.SetShowGrid(ShowGrid);
    connection.SetTimeOffset(TimeOffset);

    // 5.
    const TSettingsStore local = LocalIniStore();
    TSettingsBatch batch(local);
    WriteIntegerValue(local, SettingsSection, QStringLiteral("HelpMode"), HelpMode);
    WriteIntegerValue(local, SettingsSection, QStringLiteral("ShowGrid"), ShowGrid);
    WriteIntegerValue(local, SettingsSection, QStringLiteral("TimeOffset"), TimeOffset);
    batch.Commit();

    // 6. The alert history's kept period, applied at once.
    const int32_t days = HistoryDaysSpinBox->value();
    WriteHistoryDays(TSettingsStore::Registry(), days);
    if (IAlertHub* hub = Host ? Host->OptionsAlertHub() : nullptr)
        hub->SetHistoryKeepDays(days);

    // 7. The theme, put on every window at once.
    const auto theme = TThemeChoice(std::clamp(ThemeComboBox->currentIndex(), 0, 2));
    WriteThemeChoice(TSettingsStore::Registry(), theme);
    TThemeController::Instance().SetChoice(theme);
    // 8. Screen readers hear new alerts, or not, from now on.
    WriteAnnounceAlerts(TSettingsStore::Registry(), AnnounceAlertsCheckBox->isChecked());
    SetAlertAnnouncementsEnabled(AnnounceAlertsCheckBox->isChecked());
}

void TOptionsForm::SaveConnectionPage() {
    EditedConnection = TConnectionSettings();
    TConnectionSettings& e = EditedConnection;
    e.UseHttpTunnel = UseHTTPCheckBox->isChecked() ? 1 : 0;
    const int type = ProxyTypeComboBox->currentIndex();
    if (type == 1 || type == 2) {
        const TProxyFields proxy = ProxyFields(e, type);
        *proxy.Host = HostEdit->text();
        *proxy.Port = IntegerOrZero(PortEdit->text());
        *proxy.Username = UsernameEdit->text();
        *proxy.Password = PasswordEdit->text();
        if (type == 2)
            e.SocksVersion = IntegerOrZero(SOCKSVersionEdit->text());
    }
    const TSettingsStore local = LocalIniStore();
    {
        TSettingsBatch batch(local);
        WriteConnectionSettings(local, SettingsSection, e);
        batch.Commit();
    }
    if (ConnectionSettingsChanged()) {
        // Keys the component refuses are skipped; the rest still take effect.
        QStringList ignored;
        ApplyIniSectionByName(QDir::current().absoluteFilePath(local.fileName()), SettingsSection,
                              Connection(), &ignored);
    }
}

bool TOptionsForm::ConnectionSettingsChanged() {
    const IConnectionControl& c = Connection();
    const TConnectionSettings& e = EditedConnection;
    return e.UseHttpTunnel != c.UseHttpTunnel() || e.ProxyServer != c.ProxyServer() ||
           e.ProxyPort != c.ProxyPort() || e.ProxyUsername != c.ProxyUsername() ||
           e.ProxyPassword != c.ProxyPassword() || e.SocksHost != c.SocksHost() ||
           e.SocksPort != c.SocksPort() || e.SocksVersion != c.SocksVersion() ||
           e.SocksUsername != c.SocksUsername() || e.SocksPassword != c.SocksPassword();
}

void TOptionsForm::SaveUpdatesPage() {
    TUpdateSchedule s;
    s.UpdateAtStartup = UpdateAtStartupCheckBox->isChecked();
    s.UpdateAtTime = UpdateAtTimeCheckBox->isChecked();
    s.UpdateSchedule = 1;
    s.UpdateTime = 1000.0;
    s.UpdateDayNumber = 1;
    s.UpdateDayOfWeek = 1;
    auto timeOf = [](const QTimeEdit* picker) {
        return DateTimeOnDay1000(picker->time().msecsSinceStartOfDay());
    };
    if (s.UpdateAtTime) {
        if (DailyLocalTimeRadioButton->isChecked()) {
            s.UpdateSchedule = 2;
            s.UpdateTime = timeOf(DailyTimePicker);
        } else if (WeeklyRadioButton->isChecked()) {
            s.UpdateSchedule = 3;
            s.UpdateDayOfWeek = WeekdayComboBox->currentIndex() + 1;
            s.UpdateTime = timeOf(WeeklyTimePicker);
        } else if (MonthlyRadioButton->isChecked()) {
            s.UpdateSchedule = 4;
            s.UpdateTime = timeOf(MonthlyTimePicker);
            s.UpdateDayNumber = DayComboBox->currentIndex() + 1;
        }
    }
    if (TUpdateForm* update = UpdateForm()) {
        update->Schedule = s;
        update->SaveSchedule();
    }
}

void TOptionsForm::SaveLayoutsPage() {
    if (!Host)
        return;
    TLayoutSettings& settings = Host->OptionsLayoutSettings();
    settings.SaveOnExit = OnExitButtons->checkedId();
    settings.SaveLayoutName = SaveNameEdit->text();
    settings.LoadLayoutName = LoadNameEdit->text();
    settings.LoadOnStart = LoadOnStartCheckBox->isChecked();
}

// --- Alert Inbox page -----------------------------------------------------------------------

void TOptionsForm::LoadInboxPage() {
    const TInboxSettings settings = ReadInboxSettings(TSettingsStore::Registry());
    InboxEnabledCheckBox->setChecked(settings.Enabled);
    InboxPortSpinBox->setValue(settings.Port);
    InboxTokenEdit->setText(settings.Token);
    InboxTokenProblem = settings.Token.isEmpty() ? settings.TokenProblem : QString();
    InboxTokenEdit->setPlaceholderText(InboxTokenProblem.isEmpty()
                                           ? QString()
                                           : tr("Kept in the desktop's keyring, which is locked"));
    InboxOpenWindowsCheckBox->setChecked(settings.OpenNewWindows);
    UpdateInboxControls();
}

void TOptionsForm::UpdateInboxControls() {
    // A token is made as soon as the inbox is switched on, so the address can be copied before
    // Save; it is kept only if Save comes.
    // Not while the token the keyring holds cannot be read: it is the one programs have.
    const bool tokenUnread = !InboxTokenProblem.isEmpty() && InboxTokenEdit->text().isEmpty();
    if (InboxEnabledCheckBox->isChecked() && InboxTokenEdit->text().isEmpty() && !tokenUnread)
        InboxTokenEdit->setText(NewInboxToken());
    TInboxSettings shown;
    shown.Port = quint16(InboxPortSpinBox->value());
    shown.Token = InboxTokenEdit->text();
    InboxAddressEdit->setText(shown.Token.isEmpty() ? QString() : InboxWebhookAddress(shown));
    // From its start: "http://127.0.0.1:<port>" is the part a reader checks.
    InboxAddressEdit->setCursorPosition(0);
    InboxTokenEdit->setCursorPosition(0);
    InboxCopyButton->setEnabled(!shown.Token.isEmpty());
    // What Save would bring, as the choices change.
    IAlertHub* hub = Host ? Host->OptionsAlertHub() : nullptr;
    if (tokenUnread && InboxEnabledCheckBox->isChecked())
        InboxStatusLabel->setText(TAlertInbox::TokenProblemText(InboxTokenProblem));
    else
        InboxStatusLabel->setText(
            hub ? hub->InboxPlanText(InboxEnabledCheckBox->isChecked(), shown.Port) : QString());
}

TInboxSettings TOptionsForm::InboxPageSettings() const {
    // What the page does not show is kept as stored.
    TInboxSettings settings = ReadInboxSettings(TSettingsStore::Registry());
    settings.Enabled = InboxEnabledCheckBox->isChecked();
    settings.Port = quint16(InboxPortSpinBox->value());
    // Left empty because the keyring would not give the token: the stored one, as read now.
    if (!InboxTokenEdit->text().isEmpty() || InboxTokenProblem.isEmpty())
        settings.Token = InboxTokenEdit->text();
    settings.OpenNewWindows = InboxOpenWindowsCheckBox->isChecked();
    EnsureInboxToken(settings);
    return settings;
}

bool TOptionsForm::ApplyInboxPage(QString* problem) {
    IAlertHub* hub = Host ? Host->OptionsAlertHub() : nullptr;
    if (!hub)
        return true;
    const TInboxSettings chosen = InboxPageSettings();
    if (hub->ApplyInboxSettings(chosen))
        return true;
    // A port that could not be had before the dialog either is saved as it is; the page's
    // status line says why nothing listens.
    const TInboxSettings stored = ReadInboxSettings(TSettingsStore::Registry());
    if (stored.Enabled == chosen.Enabled && stored.Port == chosen.Port)
        return true;
    *problem = hub->InboxProblem();
    // The token and the rest as they were, with the listener that works.
    hub->ApplyInboxSettings(stored);
    return false;
}

void TOptionsForm::SaveInboxPage() {
    const TInboxSettings settings = InboxPageSettings();
    WriteInboxSettings(TSettingsStore::Registry(), settings);
    if (IAlertHub* hub = Host ? Host->OptionsAlertHub() : nullptr)
        hub->ApplyInboxSettings(settings);
}

// --- Broker page ----------------------------------------------------------------------------

void TOptionsForm::SaveBrokerPage() {
    TBrokerSettings settings = BrokerPage->Settings();
    EnsureBrokerClientId(settings);
    WriteBrokerSettings(TSettingsStore::Registry(), settings);
    if (IAlertHub* hub = Host ? Host->OptionsAlertHub() : nullptr)
        hub->ApplyBrokerSettings(settings);
}
