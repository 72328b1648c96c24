#pragma once

// The options dialog's "Layouts" page: what becomes of the layout at exit and which one is
// loaded at start.

#include "options/zkOptionsPage.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
struct TLayoutSettings;

class TLayoutsPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TLayoutsPage(IOptionsHost* host, QWidget* parent = nullptr);

    QGroupBox* SaveGroupBox = nullptr;
    QGroupBox* OnExitRadioGroup = nullptr;
    QButtonGroup* OnExitButtons = nullptr; // ids 0 always, 1 never, 2 ask
    QLineEdit* SaveNameEdit = nullptr;
    QPushButton* SaveBrowseButton = nullptr;
    QPushButton* SameAsBelowButton = nullptr;
    QGroupBox* LoadGroupBox = nullptr;
    QCheckBox* LoadOnStartCheckBox = nullptr;
    QLineEdit* LoadNameEdit = nullptr;
    QPushButton* LoadBrowseButton = nullptr;
    QPushButton* SameAsAboveButton = nullptr;
    QPushButton* RestoreDefaultsButton = nullptr;

    void Load() override;
    void Save() override;
    void LoadSettings(const TLayoutSettings& settings);

    void SameAsBelowButtonClick();
    void SameAsAboveButtonClick();
    void RestoreDefaultsButtonClick();
    void SaveBrowseButtonClick();
    void LoadBrowseButtonClick();

private:
    void BrowseLayout(bool forSave);

    IOptionsHost* Host = nullptr;
};
