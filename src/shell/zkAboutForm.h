#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
struct TConfigInfo;

// The About dialog: title, version, copyright, icon and web link of the installation, taken
// once from the configuration so a rebranded installation needs no new build.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // Filled from the process's configuration, which must have been loaded already.
    explicit TAboutForm(QWidget* parent = nullptr);
    TAboutForm(const TConfigInfo& config, QWidget* parent = nullptr);

    const QString& linkCaption() const { return LinkCaption; }
    const QString& linkTarget() const { return LinkTarget; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void FormCreate(const TConfigInfo& config);
    void AboutURLLabelClick();
    void OKButtonClick();

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ApplicationTitleLabel = nullptr;
    QLabel* ApplicationVersionLabel = nullptr;
    QLabel* CopyrightStringLabel = nullptr;
    QLabel* AboutURLLabel = nullptr;
    QPushButton* OKButton = nullptr;
    QString LinkCaption;
    QString LinkTarget;
};
