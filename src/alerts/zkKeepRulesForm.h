#pragma once

// The Rules dialog of an alert window that takes alerts from outside: a page per kind of rule,
// the first ("Keep") holding which of those alerts the window keeps.

#include "config/zkKeepRules.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TAlertForm;

// The "Keep" page: one row a rule, each with its box to turn it on and what it asks; below
// them the emphasis (rows of symbols on a list in the highlight colour, with a sound of their
// own when one is named).
class TKeepRulesPage : public QWidget {
    Q_OBJECT
public:
    explicit TKeepRulesPage(QWidget* parent = nullptr);

    // The lists offered (the account's, in their order); a rule naming another list shows it
    // too, and says it is gone.
    void Load(const TKeepRules& rules, const QStringList& listNames);
    // The rules as the page shows them; a second rule of a kind (from a file) is kept as it
    // was.
    TKeepRules Rules() const;
    // What is wrong with the page's values (empty: nothing) and the control to fix it.
    QString Problem(QWidget*& control) const;

    QCheckBox* OnListCheckBox = nullptr;
    QComboBox* OnListComboBox = nullptr;
    QCheckBox* NotOnListCheckBox = nullptr;
    QComboBox* NotOnListComboBox = nullptr;
    QCheckBox* MinPriceCheckBox = nullptr;
    QDoubleSpinBox* MinPriceSpinBox = nullptr;
    QCheckBox* MaxPriceCheckBox = nullptr;
    QDoubleSpinBox* MaxPriceSpinBox = nullptr;
    QCheckBox* ContainsCheckBox = nullptr;
    QLineEdit* ContainsEdit = nullptr;
    QCheckBox* NotContainsCheckBox = nullptr;
    QLineEdit* NotContainsEdit = nullptr;
    QCheckBox* EmphasisCheckBox = nullptr;
    QComboBox* EmphasisComboBox = nullptr;
    QLineEdit* EmphasisSoundEdit = nullptr; // empty: the window's own sounds
    QPushButton* EmphasisSoundButton = nullptr;
    // Says which rules are off because their list is gone.
    QLabel* NoteLabel = nullptr;

private:
    void UpdateControls();
    void BrowseSound();
    TKeepRules Loaded;
};

class TKeepRulesForm : public QDialog {
    Q_OBJECT
public:
    explicit TKeepRulesForm(QWidget* owner = nullptr);

    // Another page after "Keep"; accept runs when OK closes the dialog (after the Keep page's
    // rules are taken), for the page to save what it shows.
    void AddTab(QWidget* page, const QString& title, std::function<void()> accept = {});

    QTabWidget* Tabs = nullptr;
    TKeepRulesPage* KeepPage = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // Runs the accepts of the pages added; called by OK.
    void AcceptPages();

private:
    void OKButtonClick();
    std::vector<std::function<void()>> Accepts;
};

// Shows the window's Rules dialog modally; OK puts the rules on the window.
void EditWindowRules(TAlertForm& form);
