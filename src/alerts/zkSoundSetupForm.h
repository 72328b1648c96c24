#pragma once

#include "zkSoundSetup.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class IWindowDesk;

// The Sound Setup dialog: picks the wave file, volume and balance of an alert sound. Its input
// and result are sound setup text. Created once at start-up and reused; while it is open the
// idle step starts no queued sound, so Play previews without interference.
class TSoundSetupForm : public QDialog {
    Q_OBJECT
public:
    // The desk (nullptr without one) holds alert sounds back while the dialog is open.
    explicit TSoundSetupForm(QWidget* parent = nullptr, IWindowDesk* desk = nullptr);
    ~TSoundSetupForm() override;

    // Before showing: the setup to edit ("<Default>" when empty).
    void SetSetupText(const QString& text);
    // After OK: the setup built from the controls (also kept as the dialog's setup).
    QString GetSetupText();

    // --- controls ---
    QLabel* FileNameLabel = nullptr;
    QLineEdit* FileNameEdit = nullptr;
    QPushButton* SelectSoundButton = nullptr;
    QPushButton* PlayButton = nullptr;
    QLabel* BalanceLabel = nullptr;
    QLabel* LeftImage = nullptr;
    QLabel* RightImage = nullptr;
    QSlider* BalanceTrackBar = nullptr;
    QLabel* VolumeLabel = nullptr;
    QSlider* VolumeTrackBar = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Alert sounds wait while the dialog is open, and while a preview plays.
    void SetSuspended(bool suspended);
    IWindowDesk* const Desk;
    void FormCreate();
    void FormShow();
    void FormClose();
    void SelectSoundButtonClick();
    void PlayButtonClick();
    void TrackBarChange(QSlider* bar);
    void ValidateFileName();
    QString BuildSetupText() const;

    QString SetupText = DefaultSoundName;
    TSoundSetup Setup;
    QString SoundsFolder;
};

// The Sound Setup dialog while it exists (nullptr before and after).
TSoundSetupForm* SoundSetupForm();
// How the dialog is built when first needed; the client sets it, so start-up does not build a
// dialog most sessions never open.
void SetSoundSetupFormMaker(std::function<TSoundSetupForm*()> maker);
// The dialog, built by the maker when none exists yet (nullptr without either).
TSoundSetupForm* EnsureSoundSetupForm();
