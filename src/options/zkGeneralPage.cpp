#include "zkGeneralPage.h"

#include "alerts/zkActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "components/zkComponents.h"
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "config/zkThemeSettings.h"
#include "desk/zkAlertHub.h"
#include "history/zkHistorySettings.h"
#include "options/zkOptionsHost.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <limits>

using namespace zkOptionsPage;

namespace {

const QString SettingsSection = QStringLiteral("Settings");

// Trigger and kind of an action string as numbers; false when either is no integer.
bool ActionTriggerAndKind(const QString& action, int32_t& trigger, int32_t& kind) {
    const TActionFields fields = SplitAction(action);
    return TryParseIntegerText(fields.Trigger, trigger) && TryParseIntegerText(fields.Kind, kind);
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
            (step > 0 ? TGeneralPage::tr("Increase %1") : TGeneralPage::tr("Decrease %1"))
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

} // namespace

TGeneralPage::TGeneralPage(IOptionsHost* host, QWidget* parent) : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("GeneralTabSheet"));
    QWidget* p = this;
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
}

void TGeneralPage::Load() {
    DoubleClickRadioButton->setChecked(true);
    LoadDefaultActionLists();
    for (const QString& action : std::as_const(DefaultWindowActions())) {
        int32_t trigger = 0, kind = 0;
        if (ActionTriggerAndKind(action, trigger, kind) && trigger == 3 && kind == 4)
            ClickRadioButton->setChecked(true);
    }
    IConnectionControl& connection = zkOptionsPage::Connection(Host);
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

void TGeneralPage::Save() {
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
    IConnectionControl& connection = zkOptionsPage::Connection(Host);
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
    if (IAlertHub* hub = Hub())
        hub->SetHistoryKeepDays(days);

    // 7. The theme, put on every window at once.
    const auto theme = TThemeChoice(std::clamp(ThemeComboBox->currentIndex(), 0, 2));
    WriteThemeChoice(TSettingsStore::Registry(), theme);
    TThemeController::Instance().SetChoice(theme);
    // 8. Screen readers hear new alerts, or not, from now on.
    WriteAnnounceAlerts(TSettingsStore::Registry(), AnnounceAlertsCheckBox->isChecked());
    SetAlertAnnouncementsEnabled(AnnounceAlertsCheckBox->isChecked());
}

IAlertHub* TGeneralPage::Hub() const {
    return Host ? Host->OptionsAlertHub() : nullptr;
}
