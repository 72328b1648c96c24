#include "zkQuietHoursTab.h"

#include "config/zkWindowRecord.h"
#include "desk/zkWindowDesk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

// What an unset window offers when the box is ticked: a night.
constexpr int SuggestedFrom = 22 * 60;
constexpr int SuggestedTo = 7 * 60;

QTime MinutesToTime(int minutes) {
    return QTime(minutes / 60, minutes % 60);
}

int16_t TimeToMinutes(QTime time) {
    return int16_t(time.hour() * 60 + time.minute());
}

QTimeEdit* NewTimeEdit(QWidget* parent, const char* name, const QString& accessible) {
    auto* edit = new QTimeEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    edit->setWrapping(true);
    edit->setAccessibleName(accessible);
    return edit;
}

} // namespace

TQuietHoursTab::TQuietHoursTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("QuietHoursTab"));
    auto* layout = new QVBoxLayout(this);

    auto* quietGroup = new QGroupBox(tr("Quiet hours"), this);
    quietGroup->setObjectName(QStringLiteral("QuietHoursGroupBox"));
    auto* quiet = new QVBoxLayout(quietGroup);
    auto* range = new QHBoxLayout;
    QuietCheckBox = new QCheckBox(tr("&Silence sounds and notifications from"), quietGroup);
    QuietCheckBox->setObjectName(QStringLiteral("QuietCheckBox"));
    QuietCheckBox->setAccessibleName(tr("Silence sounds and notifications in quiet hours"));
    FromTimeEdit = NewTimeEdit(quietGroup, "FromTimeEdit", tr("Quiet hours start"));
    auto* toLabel = new QLabel(tr("&to"), quietGroup);
    toLabel->setObjectName(QStringLiteral("ToLabel"));
    ToTimeEdit = NewTimeEdit(quietGroup, "ToTimeEdit", tr("Quiet hours end"));
    toLabel->setBuddy(ToTimeEdit);
    range->addWidget(QuietCheckBox);
    range->addWidget(FromTimeEdit);
    range->addWidget(toLabel);
    range->addWidget(ToTimeEdit);
    range->addStretch(1);
    quiet->addLayout(range);
    auto* note = new QLabel(tr("The window's alerts still come in; Mute Sounds silences every "
                               "window at any time."),
                            quietGroup);
    note->setObjectName(QStringLiteral("QuietNoteLabel"));
    note->setWordWrap(true);
    quiet->addWidget(note);
    SameTimeLabel = new QLabel(tr("Start and end are the same time: never silent."), quietGroup);
    SameTimeLabel->setObjectName(QStringLiteral("SameTimeLabel"));
    SameTimeLabel->setWordWrap(true);
    quiet->addWidget(SameTimeLabel);
    layout->addWidget(quietGroup);

    auto* announceGroup = new QGroupBox(tr("Screen readers"), this);
    announceGroup->setObjectName(QStringLiteral("AnnounceGroupBox"));
    auto* announce = new QHBoxLayout(announceGroup);
    auto* announceLabel = new QLabel(tr("&Announce new alerts:"), announceGroup);
    announceLabel->setObjectName(QStringLiteral("AnnounceLabel"));
    AnnounceComboBox = new QComboBox(announceGroup);
    AnnounceComboBox->setObjectName(QStringLiteral("AnnounceComboBox"));
    AnnounceComboBox->setAccessibleName(tr("Announce new alerts"));
    // In the order of TAnnounceMode.
    AnnounceComboBox->addItem(tr("Off"));
    AnnounceComboBox->addItem(tr("Summary"));
    AnnounceComboBox->addItem(tr("Each"));
    AnnounceComboBox->setItemData(0, tr("Not at all"), Qt::ToolTipRole);
    AnnounceComboBox->setItemData(
        1, tr("How many came and the newest symbol, at most every few seconds"), Qt::ToolTipRole);
    AnnounceComboBox->setItemData(2, tr("Each alert, bursts together"), Qt::ToolTipRole);
    announceLabel->setBuddy(AnnounceComboBox);
    announce->addWidget(announceLabel);
    announce->addWidget(AnnounceComboBox);
    announce->addStretch(1);
    layout->addWidget(announceGroup);
    layout->addStretch(1);

    setTabOrder(QuietCheckBox, FromTimeEdit);
    setTabOrder(FromTimeEdit, ToTimeEdit);
    setTabOrder(ToTimeEdit, AnnounceComboBox);
    connect(QuietCheckBox, &QCheckBox::toggled, this, &TQuietHoursTab::UpdateControls);
    connect(FromTimeEdit, &QTimeEdit::timeChanged, this, &TQuietHoursTab::UpdateControls);
    connect(ToTimeEdit, &QTimeEdit::timeChanged, this, &TQuietHoursTab::UpdateControls);
    Load(TQuietSettings());
}

void TQuietHoursTab::UpdateControls() {
    const bool on = QuietCheckBox->isChecked();
    FromTimeEdit->setEnabled(on);
    ToTimeEdit->setEnabled(on);
    SameTimeLabel->setVisible(on && FromTimeEdit->time() == ToTimeEdit->time());
}

void TQuietHoursTab::Load(const TQuietSettings& quiet) {
    const bool on = quiet.HasQuietHours();
    QuietCheckBox->setChecked(on);
    FromTimeEdit->setTime(MinutesToTime(on ? quiet.From : SuggestedFrom));
    ToTimeEdit->setTime(MinutesToTime(on ? quiet.To : SuggestedTo));
    AnnounceComboBox->setCurrentIndex(int(quiet.Announce));
    UpdateControls();
}

void TQuietHoursTab::Save(TQuietSettings& quiet) const {
    if (QuietCheckBox->isChecked()) {
        quiet.From = TimeToMinutes(FromTimeEdit->time());
        quiet.To = TimeToMinutes(ToTimeEdit->time());
    } else {
        quiet.From = quiet.To = 0;
    }
    quiet.Announce = TAnnounceMode(AnnounceComboBox->currentIndex());
}

void TQuietHoursTab::Load(const TLayoutInfo& record) {
    Load(record.Quiet);
}

void TQuietHoursTab::Save(TLayoutInfo& record) const {
    Save(record.Quiet);
}

bool RunQuietHoursDialog(QWidget* window, IWindowDesk* desk, TQuietSettings& quiet) {
    // On the heap: the window, and the dialog with it, may be destroyed while it is open.
    const QPointer<QDialog> dialog = new QDialog(window);
    dialog->setObjectName(QStringLiteral("QuietHoursForm"));
    dialog->setWindowTitle(TQuietHoursTab::tr("Quiet Hours"));
    auto* layout = new QVBoxLayout(dialog);
    auto* tab = new TQuietHoursTab(dialog);
    layout->addWidget(tab);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->setObjectName(QStringLiteral("QuietHoursButtons"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    tab->Load(quiet);
    tab->QuietCheckBox->setFocus();
    const TModalDialogScope modal(desk);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return false;
    if (accepted)
        tab->Save(quiet);
    delete dialog;
    return accepted;
}
