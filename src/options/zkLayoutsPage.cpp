#include "zkLayoutsPage.h"

#include "config/zkConfig.h"
#include "config/zkLayoutSettings.h"
#include "options/zkOptionsHost.h"
#include "platform/zkApplication.h"
#include "platform/zkPrompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace zkOptionsPage;

TLayoutsPage::TLayoutsPage(IOptionsHost* host, QWidget* parent) : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("LayoutsTabSheet"));
    QWidget* p = this;

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
}

void TLayoutsPage::Load() {
    if (Host)
        LoadSettings(Host->OptionsLayoutSettings());
}

void TLayoutsPage::LoadSettings(const TLayoutSettings& settings) {
    // A stored choice outside the three leaves none checked, as it was.
    OnExitButtons->setExclusive(false);
    for (QAbstractButton* button : OnExitButtons->buttons())
        button->setChecked(OnExitButtons->id(button) == settings.SaveOnExit);
    OnExitButtons->setExclusive(true);
    SaveNameEdit->setText(settings.SaveLayoutName);
    LoadNameEdit->setText(settings.LoadLayoutName);
    LoadOnStartCheckBox->setChecked(settings.LoadOnStart);
}

void TLayoutsPage::SameAsBelowButtonClick() {
    SaveNameEdit->setText(LoadNameEdit->text());
}

void TLayoutsPage::SameAsAboveButtonClick() {
    LoadNameEdit->setText(SaveNameEdit->text());
}

void TLayoutsPage::RestoreDefaultsButtonClick() {
    TLayoutSettings defaults;
    SetLayoutDefaults(defaults);
    LoadSettings(defaults);
}

void TLayoutsPage::SaveBrowseButtonClick() {
    BrowseLayout(true);
}

void TLayoutsPage::LoadBrowseButtonClick() {
    BrowseLayout(false);
}

void TLayoutsPage::BrowseLayout(bool forSave) {
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

void TLayoutsPage::Save() {
    if (!Host)
        return;
    TLayoutSettings& settings = Host->OptionsLayoutSettings();
    settings.SaveOnExit = OnExitButtons->checkedId();
    settings.SaveLayoutName = SaveNameEdit->text();
    settings.LoadLayoutName = LoadNameEdit->text();
    settings.LoadOnStart = LoadOnStartCheckBox->isChecked();
}
