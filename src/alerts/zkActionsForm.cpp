#include "zkActionsForm.h"

#include "zkOkCancelRow.h"

#include "alerts/zkActions.h"
#include "alerts/zkAlertDesk.h"
#include "alerts/zkSoundPlayer.h"
#include "alerts/zkSoundSetup.h"
#include "alerts/zkSoundSetupForm.h"
#include "linking/zkExternalLinks.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkFontFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int ClientWidth = 279;
constexpr int ClientHeight = 334;

// The Sound Setup dialog, modally, with the setup text; true and the new text after OK.
bool EditSoundSetup(QString& setup) {
    TSoundSetupForm* dialog = EnsureSoundSetupForm();
    if (!dialog)
        return false;
    dialog->SetSetupText(setup);
    if (dialog->exec() != QDialog::Accepted)
        return false;
    setup = dialog->GetSetupText();
    return true;
}

// An empty name picks the first item; a name that is not there picks none.
void SelectListName(QComboBox* box, const QString& name) {
    box->setCurrentIndex(name.isEmpty() ? 0 : box->findText(name, Qt::MatchFixedString));
}

void SetItems(QComboBox* box, const QStringList& names) {
    box->clear();
    box->addItems(names);
}

} // namespace

TGenericConnectorForm* TActionsForm::Connectors() const {
    return Desk ? Desk->ConnectorWindow() : nullptr;
}

std::function<bool()> TActionsForm::SoundDevicePresent = [] { return HasSoundDevice(); };

TActionsForm::TActionsForm(QWidget* owner, IAlertDesk* desk)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Desk(desk) {
    setObjectName(QStringLiteral("ActionsForm"));
    setWindowTitle(tr("Alert Window Actions"));
    // Grown where the desktop's font needs more room than the designed size, and in any font
    // to the rows it has now: the broker's came after the design.
    zkFontFit::FixedSizeAtLeast(this, QSize(ClientWidth, ClientHeight),
                                zkFontFit::TGrowth::InAnyFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);

    OnEachAlertGroupBox = new QGroupBox(tr("On Each Alert"), this);
    OnEachAlertGroupBox->setObjectName(QStringLiteral("OnEachAlertGroupBox"));
    auto* each = new QGridLayout(OnEachAlertGroupBox);
    each->setVerticalSpacing(4);
    PlaySoundCheckBox = new QCheckBox(tr("&Play Sound"), OnEachAlertGroupBox);
    PlaySoundCheckBox->setObjectName(QStringLiteral("PlaySoundCheckBox"));
    SetupSoundButton = new QPushButton(tr("&Setup sound..."), OnEachAlertGroupBox);
    SetupSoundButton->setObjectName(QStringLiteral("SetupSoundButton"));
    SetupSoundButton->setAutoDefault(false);
    SoundSetupMemo = new QPlainTextEdit(OnEachAlertGroupBox);
    SoundSetupMemo->setObjectName(QStringLiteral("SoundSetupMemo"));
    SoundSetupMemo->setAccessibleName(tr("Sound setup"));
    SoundSetupMemo->setReadOnly(true);
    SoundSetupMemo->setEnabled(false);
    SoundSetupMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    SoundSetupMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SoundSetupMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SoundSetupMemo->setFixedHeight(SoundSetupMemo->fontMetrics().lineSpacing() * 3 + 10);
    {
        // Face-coloured: it describes, it is not for typing in.
        QPalette face = SoundSetupMemo->palette();
        for (QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            face.setColor(group, QPalette::Base, face.color(group, QPalette::Window));
        SoundSetupMemo->setPalette(face);
    }
    ShowAlertWindowCheckBox = new QCheckBox(tr("Show &Alert Window"), OnEachAlertGroupBox);
    ShowAlertWindowCheckBox->setObjectName(QStringLiteral("ShowAlertWindowCheckBox"));
    ShowNotificationCheckBox =
        new QCheckBox(tr("Show a desktop &notification"), OnEachAlertGroupBox);
    ShowNotificationCheckBox->setObjectName(QStringLiteral("ShowNotificationCheckBox"));
    PublishCheckBox = new QCheckBox(tr("Publish to the &broker"), OnEachAlertGroupBox);
    PublishCheckBox->setObjectName(QStringLiteral("PublishCheckBox"));
    PublishCheckBox->setAccessibleName(tr("Publish each alert to the broker"));
    SendToCheckBox = new QCheckBox(tr("Send To &Linked Windows List"), OnEachAlertGroupBox);
    SendToCheckBox->setObjectName(QStringLiteral("SendToCheckBox"));
    ListNameLabel1 = new QLabel(tr("List Name:"), OnEachAlertGroupBox);
    ListNameLabel1->setObjectName(QStringLiteral("ListNameLabel1"));
    OnEachComboBox = new QComboBox(OnEachAlertGroupBox);
    OnEachComboBox->setObjectName(QStringLiteral("OnEachComboBox"));
    ListNameLabel1->setBuddy(OnEachComboBox);
    each->addWidget(PlaySoundCheckBox, 0, 0);
    each->addWidget(SetupSoundButton, 0, 1);
    each->addWidget(SoundSetupMemo, 1, 0, 1, 2);
    each->addWidget(ShowAlertWindowCheckBox, 2, 0, 1, 2);
    each->addWidget(ShowNotificationCheckBox, 3, 0, 1, 2);
    each->addWidget(PublishCheckBox, 4, 0, 1, 2);
    each->addWidget(SendToCheckBox, 5, 0, 1, 2);
    auto* eachList = new QHBoxLayout;
    eachList->addSpacing(18);
    eachList->addWidget(ListNameLabel1);
    eachList->addWidget(OnEachComboBox, 1);
    each->addLayout(eachList, 6, 0, 1, 2);

    SendGroupBox = new QGroupBox(tr("Send to linked windows"), this);
    SendGroupBox->setObjectName(QStringLiteral("SendGroupBox"));
    auto* selectGroup = new QVBoxLayout(SendGroupBox);
    auto* select = new QHBoxLayout;
    ListNameLabel2 = new QLabel(tr("List Name:"), SendGroupBox);
    ListNameLabel2->setObjectName(QStringLiteral("ListNameLabel2"));
    OnSelectComboBox = new QComboBox(SendGroupBox);
    OnSelectComboBox->setObjectName(QStringLiteral("OnSelectComboBox"));
    ListNameLabel2->setBuddy(OnSelectComboBox);
    select->addWidget(ListNameLabel2);
    select->addWidget(OnSelectComboBox, 1);
    PublishOnSelectCheckBox =
        new QCheckBox(tr("and p&ublish the alert to the broker"), SendGroupBox);
    PublishOnSelectCheckBox->setObjectName(QStringLiteral("PublishOnSelectCheckBox"));
    PublishOnSelectCheckBox->setAccessibleName(tr("Publish the selected alert to the broker"));
    selectGroup->addLayout(select);
    selectGroup->addWidget(PublishOnSelectCheckBox);

    const TOkCancelRow row = NewOkCancelRow(this);
    OKButton = row.OK;
    CancelButton = row.Cancel;

    layout->addWidget(OnEachAlertGroupBox);
    layout->addWidget(SendGroupBox);
    layout->addStretch(1);
    layout->addLayout(row.Layout);

    connect(PlaySoundCheckBox, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(ShowAlertWindowCheckBox, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(SendToCheckBox, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(SetupSoundButton, &QPushButton::clicked, this, [this] { SetupSoundButtonClick(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

    SetSoundSetup(DefaultSoundName);
}

QString TActionsForm::ShortenPath(const QString& path) {
    QStringList pieces;
    qsizetype start = 0;
    while (true) {
        const qsizetype slash = path.indexOf(QLatin1Char('/'), start);
        const QString piece = path.mid(start, slash < 0 ? -1 : slash - start);
        // The empty piece before the leading "/" is the root, as a drive is elsewhere; any
        // later empty piece ends the walk.
        if (piece.isEmpty() && !(start == 0 && slash == 0))
            break;
        pieces.append(piece);
        if (slash < 0)
            break;
        start = slash + 1;
    }
    const qsizetype n = pieces.size();
    if (n <= 3)
        return path;
    return pieces.first() + QStringLiteral("/.../") + pieces[n - 2] + QLatin1Char('/') +
           pieces[n - 1];
}

QString TActionsForm::SoundSetupDescription(const QString& setup) {
    if (setup == DefaultSoundName)
        return DefaultSoundName;
    const TSoundSetup parsed = ParseSoundSetup(setup);
    return tr("File: %1\r\nVolume: %2%\r\nLeft/Right: %3%/%4%")
        .arg(ShortenPath(parsed.FileName))
        .arg(int(parsed.Volume))
        .arg(100 - int(parsed.Balance))
        .arg(int(parsed.Balance));
}

void TActionsForm::SetSoundSetup(const QString& setup) {
    SoundSetup = setup.isEmpty() ? DefaultSoundName : setup;
    QString text = SoundSetupDescription(SoundSetup);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    SoundSetupMemo->setPlainText(text);
}

void TActionsForm::UpdateControls() {
    SetupSoundButton->setEnabled(PlaySoundCheckBox->isChecked() && SoundDevicePresent());
    OnEachComboBox->setEnabled(SendToCheckBox->isChecked());
}

void TActionsForm::UpdateListNames(const QStringList& names) {
    for (QComboBox* box : {OnEachComboBox, OnSelectComboBox}) {
        const int index = box->currentIndex();
        const QString shown = box->currentText();
        SetItems(box, names);
        box->setCurrentIndex(index < 0 ? -1 : box->findText(shown, Qt::MatchFixedString));
    }
}

void TActionsForm::FormShow() {
    SetSoundSetup(DefaultSoundName);
    TGenericConnectorForm* connectors = Connectors();
    const QStringList names =
        connectors ? connectors->ListNames.DisplayNames() : QStringList{MainListName()};
    SetItems(OnEachComboBox, names);
    SetItems(OnSelectComboBox, names);
    OnEachComboBox->setCurrentIndex(0);
    OnSelectComboBox->setCurrentIndex(0);
    PlaySoundCheckBox->setChecked(false);
    ShowAlertWindowCheckBox->setChecked(false);
    ShowNotificationCheckBox->setChecked(false);
    PublishCheckBox->setChecked(false);
    PublishOnSelectCheckBox->setChecked(false);
    SendToCheckBox->setChecked(false);
    OnSelectComboBox->setCurrentIndex(0);
    for (const QString& action : std::as_const(Actions)) {
        const TActionFields f = SplitAction(action);
        if ((f.Trigger == QLatin1String("2") || f.Trigger == QLatin1String("3")) &&
            f.Kind == QLatin1String("4")) {
            SelectListName(OnSelectComboBox, f.Parameter);
        } else if (f.Trigger == QLatin1String("1") && f.Kind == QLatin1String("2")) {
            PlaySoundCheckBox->setChecked(true);
            SetSoundSetup(f.Parameter);
        } else if (f.Trigger == QLatin1String("1") && f.Kind == QLatin1String("3")) {
            ShowAlertWindowCheckBox->setChecked(true);
        } else if (f.Trigger == QLatin1String("1") && f.Kind == QLatin1String("5")) {
            ShowNotificationCheckBox->setChecked(true);
        } else if (f.Trigger == QLatin1String("1") && f.Kind == QLatin1String("6")) {
            PublishCheckBox->setChecked(true);
        } else if ((f.Trigger == QLatin1String("2") || f.Trigger == QLatin1String("3")) &&
                   f.Kind == QLatin1String("6")) {
            PublishOnSelectCheckBox->setChecked(true);
        } else if (f.Trigger == QLatin1String("1") && f.Kind == QLatin1String("4")) {
            SendToCheckBox->setChecked(true);
            SelectListName(OnEachComboBox, f.Parameter);
        }
    }
    UpdateControls();
    SendGroupBox->setTitle(
        tr("On %1 send symbol to").arg(SelectionTrigger() == 3 ? tr("click") : tr("double-click")));
}

void TActionsForm::OKButtonClick() {
    QStringList actions;
    if (PlaySoundCheckBox->isChecked())
        actions.append(QStringLiteral("1,2,") + SoundSetup);
    if (ShowAlertWindowCheckBox->isChecked())
        actions.append(QStringLiteral("1,3"));
    if (SendToCheckBox->isChecked())
        actions.append(QStringLiteral("1,4,") + OnEachComboBox->currentText().trimmed());
    // After the older kinds, so a list without it is written exactly as before.
    if (ShowNotificationCheckBox->isChecked())
        actions.append(QStringLiteral("1,5"));
    if (PublishCheckBox->isChecked())
        actions.append(QStringLiteral("1,6"));
    actions.append(QString::number(SelectionTrigger()) + QStringLiteral(",4,") +
                   OnSelectComboBox->currentText().trimmed());
    // After the send: a selection acts on the first entry of its trigger, which stays the send.
    if (PublishOnSelectCheckBox->isChecked())
        actions.append(QString::number(SelectionTrigger()) + QStringLiteral(",6"));
    Actions = actions;
    accept();
}

void TActionsForm::SetupSoundButtonClick() {
    QString setup = SoundSetup;
    if (EditSoundSetup(setup))
        SetSoundSetup(setup);
}

void TActionsForm::showEvent(QShowEvent* event) {
    FormShow();
    if (TGenericConnectorForm* connectors = Connectors()) {
        disconnect(NamesConnection);
        NamesConnection =
            connect(connectors, &TGenericConnectorForm::DisplayNamesChanged, this,
                    [this, connectors] { UpdateListNames(connectors->DisplayNames); });
    }
    QDialog::showEvent(event);
}

void TActionsForm::hideEvent(QHideEvent* event) {
    disconnect(NamesConnection);
    QDialog::hideEvent(event);
}
