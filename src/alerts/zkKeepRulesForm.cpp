#include "zkKeepRulesForm.h"

#include "zkOkCancelRow.h"

#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "desk/zkWindowDesk.h"
#include "platform/zkFontFit.h"
#include "platform/zkPrompts.h"
#include "symbollists/zkSymbolListIndex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr double MaxPrice = 1e12;

QCheckBox* NewCheckBox(QWidget* parent, const QString& text, const char* name) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QComboBox* NewListBox(QWidget* parent, const QString& accessibleName, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessibleName);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(12);
    return box;
}

QDoubleSpinBox* NewPriceBox(QWidget* parent, const QString& accessibleName, const char* name) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessibleName);
    box->setRange(0, MaxPrice);
    box->setDecimals(4);
    return box;
}

QLineEdit* NewWordsEdit(QWidget* parent, const QString& accessibleName, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessibleName);
    edit->setMaxLength(TKeepRules::MaxWords * (TKeepRules::MaxWordLength + 1));
    return edit;
}

// The lists offered, and the rule's own list first when the account has none of that name.
void FillLists(QComboBox* box, const QStringList& names, const TKeepRule* rule) {
    box->clear();
    box->addItems(names);
    if (rule && !rule->List.isEmpty()) {
        int at = box->findText(rule->List, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at < 0) {
            box->insertItem(0, rule->List);
            at = 0;
        }
        box->setCurrentIndex(at);
    }
}

} // namespace

TKeepRulesPage::TKeepRulesPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("KeepRulesPage"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Of the alerts from outside (the inbox, the broker), this window "
                                "keeps only those every rule that is on lets through. The "
                                "others are kept in the history, marked as refused."),
                             this);
    intro->setObjectName(QStringLiteral("IntroLabel"));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    OnListCheckBox = NewCheckBox(this, tr("Symbol is &on list:"), "OnListCheckBox");
    OnListComboBox = NewListBox(this, tr("List the symbol must be on"), "OnListComboBox");
    NotOnListCheckBox = NewCheckBox(this, tr("Symbol is n&ot on list:"), "NotOnListCheckBox");
    NotOnListComboBox = NewListBox(this, tr("List the symbol must not be on"), "NotOnListComboBox");
    MinPriceCheckBox = NewCheckBox(this, tr("Price at &least:"), "MinPriceCheckBox");
    MinPriceSpinBox = NewPriceBox(this, tr("Lowest price kept"), "MinPriceSpinBox");
    MaxPriceCheckBox = NewCheckBox(this, tr("Price at &most:"), "MaxPriceCheckBox");
    MaxPriceSpinBox = NewPriceBox(this, tr("Highest price kept"), "MaxPriceSpinBox");
    ContainsCheckBox = NewCheckBox(this, tr("Description &contains one of:"), "ContainsCheckBox");
    ContainsEdit =
        NewWordsEdit(this, tr("Words one of which the description must hold"), "ContainsEdit");
    NotContainsCheckBox =
        NewCheckBox(this, tr("Description contains &none of:"), "NotContainsCheckBox");
    NotContainsEdit =
        NewWordsEdit(this, tr("Words the description must not hold"), "NotContainsEdit");
    EmphasisCheckBox = NewCheckBox(this, tr("&Emphasise symbols on list:"), "EmphasisCheckBox");
    EmphasisComboBox =
        NewListBox(this, tr("List whose symbols are emphasised"), "EmphasisComboBox");
    const std::pair<QCheckBox*, QWidget*> rows[] = {
        {OnListCheckBox, OnListComboBox},     {NotOnListCheckBox, NotOnListComboBox},
        {MinPriceCheckBox, MinPriceSpinBox},  {MaxPriceCheckBox, MaxPriceSpinBox},
        {ContainsCheckBox, ContainsEdit},     {NotContainsCheckBox, NotContainsEdit},
        {EmphasisCheckBox, EmphasisComboBox},
    };
    // Under the keeping rules, before the emphasis, which keeps everything.
    auto* hint = new QLabel(tr("Words: separated by blanks or commas, any letter case, found "
                               "anywhere in the description."),
                            this);
    hint->setObjectName(QStringLiteral("WordsHintLabel"));
    hint->setWordWrap(true);
    int row = 0;
    for (const auto& [box, control] : rows) {
        if (box == EmphasisCheckBox)
            grid->addWidget(hint, row++, 0, 1, 2);
        grid->addWidget(box, row, 0);
        if (auto* lists = qobject_cast<QComboBox*>(control)) {
            // A list box is read out with its label.
            auto* pair = new QHBoxLayout;
            auto* label = new QLabel(tr("List:"), this);
            label->setObjectName(control->objectName() + QStringLiteral("Label"));
            label->setBuddy(lists);
            pair->addWidget(label);
            pair->addWidget(lists, 1);
            grid->addLayout(pair, row, 1);
        } else {
            grid->addWidget(control, row, 1);
        }
        connect(box, &QCheckBox::toggled, this, [this] { UpdateControls(); });
        ++row;
    }
    // The emphasis's own sound: a wave file played instead of the window's sounds.
    auto* soundLabel = new QLabel(tr("With the &sound:"), this);
    soundLabel->setObjectName(QStringLiteral("EmphasisSoundLabel"));
    EmphasisSoundEdit = new QLineEdit(this);
    EmphasisSoundEdit->setObjectName(QStringLiteral("EmphasisSoundEdit"));
    EmphasisSoundEdit->setAccessibleName(tr("Sound of emphasised alerts"));
    EmphasisSoundEdit->setPlaceholderText(tr("the window's own"));
    EmphasisSoundEdit->setMaxLength(4096); // as much as is read back
    soundLabel->setBuddy(EmphasisSoundEdit);
    EmphasisSoundButton = new QPushButton(tr("&Browse..."), this);
    EmphasisSoundButton->setObjectName(QStringLiteral("EmphasisSoundButton"));
    EmphasisSoundButton->setAccessibleName(tr("Browse for the sound of emphasised alerts"));
    EmphasisSoundButton->setAutoDefault(false);
    connect(EmphasisSoundButton, &QPushButton::clicked, this, [this] { BrowseSound(); });
    auto* sound = new QHBoxLayout;
    sound->addWidget(EmphasisSoundEdit, 1);
    sound->addWidget(EmphasisSoundButton);
    grid->addWidget(soundLabel, row, 0, Qt::AlignRight);
    grid->addLayout(sound, row, 1);
    layout->addLayout(grid);

    NoteLabel = new QLabel(this);
    NoteLabel->setObjectName(QStringLiteral("NoteLabel"));
    NoteLabel->setWordWrap(true);
    // It names the user's symbol lists, which come from the service and from files.
    NoteLabel->setTextFormat(Qt::PlainText);
    NoteLabel->setVisible(false);
    layout->addWidget(NoteLabel);
    layout->addStretch(1);
    UpdateControls();
}

void TKeepRulesPage::UpdateControls() {
    OnListComboBox->setEnabled(OnListCheckBox->isChecked());
    NotOnListComboBox->setEnabled(NotOnListCheckBox->isChecked());
    MinPriceSpinBox->setEnabled(MinPriceCheckBox->isChecked());
    MaxPriceSpinBox->setEnabled(MaxPriceCheckBox->isChecked());
    ContainsEdit->setEnabled(ContainsCheckBox->isChecked());
    NotContainsEdit->setEnabled(NotContainsCheckBox->isChecked());
    EmphasisComboBox->setEnabled(EmphasisCheckBox->isChecked());
    EmphasisSoundEdit->setEnabled(EmphasisCheckBox->isChecked());
    EmphasisSoundButton->setEnabled(EmphasisCheckBox->isChecked());
}

void TKeepRulesPage::BrowseSound() {
    zkPrompts::TFileDialogSpec spec;
    spec.Title = tr("Sound of Emphasised Alerts");
    spec.Filter = tr("Wave files (*.wav)|*.wav|All files (*)|*");
    spec.FileMustExist = true;
    const QString current = EmphasisSoundEdit->text().trimmed();
    if (!current.isEmpty())
        spec.InitialDir = QFileInfo(current).absolutePath();
    QString name;
    if (zkPrompts::OpenFileName(spec, name, this))
        EmphasisSoundEdit->setText(name);
}

void TKeepRulesPage::Load(const TKeepRules& rules, const QStringList& listNames) {
    Loaded = rules;
    QStringList gone;
    // A rule whose list is gone is off (the router skips it too), and shows so.
    const auto listRule = [&](TKeepRuleKind kind, QCheckBox* box, QComboBox* lists) {
        const TKeepRule* rule = rules.Find(kind);
        FillLists(lists, listNames, rule);
        bool on = rule && rule->On;
        if (on && !listNames.contains(rule->List)) {
            gone.append(rule->List);
            on = false;
        }
        box->setChecked(on);
    };
    listRule(TKeepRuleKind::OnList, OnListCheckBox, OnListComboBox);
    listRule(TKeepRuleKind::NotOnList, NotOnListCheckBox, NotOnListComboBox);
    listRule(TKeepRuleKind::Emphasise, EmphasisCheckBox, EmphasisComboBox);
    const TKeepRule* emphasis = rules.Find(TKeepRuleKind::Emphasise);
    EmphasisSoundEdit->setText(emphasis ? emphasis->Sound : QString());
    const auto priceRule = [&](TKeepRuleKind kind, QCheckBox* box, QDoubleSpinBox* price) {
        const TKeepRule* rule = rules.Find(kind);
        box->setChecked(rule && rule->On);
        price->setValue(rule ? rule->Price : 0);
    };
    priceRule(TKeepRuleKind::MinPrice, MinPriceCheckBox, MinPriceSpinBox);
    priceRule(TKeepRuleKind::MaxPrice, MaxPriceCheckBox, MaxPriceSpinBox);
    const auto wordsRule = [&](TKeepRuleKind kind, QCheckBox* box, QLineEdit* edit) {
        const TKeepRule* rule = rules.Find(kind);
        box->setChecked(rule && rule->On);
        edit->setText(rule ? rule->Words.join(u' ') : QString());
    };
    wordsRule(TKeepRuleKind::Contains, ContainsCheckBox, ContainsEdit);
    wordsRule(TKeepRuleKind::NotContains, NotContainsCheckBox, NotContainsEdit);
    gone.removeDuplicates();
    NoteLabel->setText(
        gone.isEmpty()
            ? QString()
            : tr("No symbol list is called %1 any more: its rule is off.")
                  .arg(QLatin1Char('"') + gone.join(QStringLiteral("\", \"")) + QLatin1Char('"')));
    NoteLabel->setVisible(!gone.isEmpty());
    NoteLabel->setAccessibleName(NoteLabel->text());
    UpdateControls();
}

TKeepRules TKeepRulesPage::Rules() const {
    TKeepRules result;
    const auto keep = [&](TKeepRule rule, bool worth) {
        // A rule that is off and asks nothing is left out, so a window without rules stores
        // none.
        if (rule.On || worth)
            result.Rules.push_back(std::move(rule));
    };
    const auto listRule = [&](TKeepRuleKind kind, QCheckBox* box, QComboBox* lists) {
        TKeepRule rule;
        rule.Kind = kind;
        rule.On = box->isChecked() && !lists->currentText().isEmpty();
        rule.List = lists->currentText();
        const TKeepRule* before = Loaded.Find(kind);
        keep(rule, before != nullptr && !rule.List.isEmpty());
    };
    listRule(TKeepRuleKind::OnList, OnListCheckBox, OnListComboBox);
    listRule(TKeepRuleKind::NotOnList, NotOnListCheckBox, NotOnListComboBox);
    const auto priceRule = [&](TKeepRuleKind kind, QCheckBox* box, QDoubleSpinBox* price) {
        TKeepRule rule;
        rule.Kind = kind;
        rule.On = box->isChecked();
        rule.Price = price->value();
        keep(rule, Loaded.Find(kind) != nullptr);
    };
    priceRule(TKeepRuleKind::MinPrice, MinPriceCheckBox, MinPriceSpinBox);
    priceRule(TKeepRuleKind::MaxPrice, MaxPriceCheckBox, MaxPriceSpinBox);
    const auto wordsRule = [&](TKeepRuleKind kind, QCheckBox* box, QLineEdit* edit) {
        TKeepRule rule;
        rule.Kind = kind;
        rule.Words = SplitRuleWords(edit->text());
        rule.On = box->isChecked() && !rule.Words.isEmpty();
        keep(rule, !rule.Words.isEmpty());
    };
    wordsRule(TKeepRuleKind::Contains, ContainsCheckBox, ContainsEdit);
    wordsRule(TKeepRuleKind::NotContains, NotContainsCheckBox, NotContainsEdit);
    {
        TKeepRule rule;
        rule.Kind = TKeepRuleKind::Emphasise;
        rule.List = EmphasisComboBox->currentText();
        rule.On = EmphasisCheckBox->isChecked() && !rule.List.isEmpty();
        rule.Sound = EmphasisSoundEdit->text().trimmed();
        // Without a list it cannot be stored (nor read back).
        keep(rule, !rule.List.isEmpty() &&
                       (Loaded.Find(TKeepRuleKind::Emphasise) != nullptr || !rule.Sound.isEmpty()));
    }
    // Rules of a kind given more than once (by a file) stay as they were.
    for (const TKeepRule& rule : Loaded.Rules)
        if (Loaded.Find(rule.Kind) != &rule)
            result.Rules.push_back(rule);
    if (result.Rules.size() > size_t(TKeepRules::MaxRules))
        result.Rules.resize(size_t(TKeepRules::MaxRules));
    return result;
}

QString TKeepRulesPage::Problem(QWidget*& control) const {
    if (MinPriceCheckBox->isChecked() && MaxPriceCheckBox->isChecked() &&
        MinPriceSpinBox->value() > MaxPriceSpinBox->value()) {
        control = MaxPriceSpinBox;
        return tr("The highest price kept is below the lowest: no alert with a price would be "
                  "kept.");
    }
    if (OnListCheckBox->isChecked() && OnListComboBox->currentText().isEmpty()) {
        control = OnListComboBox;
        return tr("Choose the list the symbol must be on.");
    }
    if (NotOnListCheckBox->isChecked() && NotOnListComboBox->currentText().isEmpty()) {
        control = NotOnListComboBox;
        return tr("Choose the list the symbol must not be on.");
    }
    if (EmphasisCheckBox->isChecked() && EmphasisComboBox->currentText().isEmpty()) {
        control = EmphasisComboBox;
        return tr("Choose the list whose symbols are emphasised.");
    }
    return QString();
}

TKeepRulesForm::TKeepRulesForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("KeepRulesForm"));
    setWindowTitle(tr("Alert Window Rules"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("RulesTabs"));
    Tabs->setAccessibleName(tr("Rule pages"));
    KeepPage = new TKeepRulesPage(Tabs);
    Tabs->addTab(KeepPage, tr("&Keep"));
    layout->addWidget(Tabs, 1);

    const TOkCancelRow row = NewOkCancelRow(this);
    OKButton = row.OK;
    CancelButton = row.Cancel;
    layout->addLayout(row.Layout);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    // Sized by its layout in whatever font the desktop has.
    zkFontFit::MinimumSizeAtLeast(this, QSize(420, 380));
}

void TKeepRulesForm::AddTab(QWidget* page, const QString& title, std::function<void()> accept) {
    Tabs->addTab(page, title);
    if (accept)
        Accepts.push_back(std::move(accept));
}

void TKeepRulesForm::AcceptPages() {
    for (const std::function<void()>& accept : Accepts)
        accept();
}

void TKeepRulesForm::OKButtonClick() {
    QWidget* control = nullptr;
    const QString problem = KeepPage->Problem(control);
    if (!problem.isEmpty()) {
        Tabs->setCurrentWidget(KeepPage);
        KeepPage->NoteLabel->setText(problem);
        KeepPage->NoteLabel->setAccessibleName(problem);
        KeepPage->NoteLabel->setVisible(true);
        if (control)
            control->setFocus();
        return;
    }
    accept();
}

void EditWindowRules(TAlertForm& form) {
    IAlertDesk* desk = form.Desk;
    const TModalDialogScope modal(desk ? &desk->Windows() : nullptr);
    const QPointer<TAlertForm> window = &form;
    // Owned by the main window, as the window may close (and go) while it is open.
    const QPointer<TKeepRulesForm> dialog = new TKeepRulesForm(form.parentWidget());
    dialog->setWindowTitle(TKeepRulesForm::tr("Rules of %1").arg(form.windowTitle()));
    dialog->KeepPage->Load(form.KeepRules, SymbolListNames());
    dialog->KeepPage->OnListCheckBox->setFocus();
    const bool ok = dialog->exec() == QDialog::Accepted;
    if (ok && window && dialog) {
        window->KeepRules = dialog->KeepPage->Rules();
        dialog->AcceptPages();
    }
    delete dialog.data();
}
