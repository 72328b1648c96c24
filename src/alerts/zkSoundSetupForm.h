#pragma once

#include <QDialog>

// The sound setup dialog. Stand-in until the sound work lands: created hidden at start-up.
class TSoundSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSoundSetupForm(QWidget* parent = nullptr);
};
