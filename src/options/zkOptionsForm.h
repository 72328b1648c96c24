#pragma once

#include <QDialog>

// The options dialog. Stand-in until the options work lands: it opens empty and ends with
// Cancel.
class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(QWidget* owner = nullptr);
};

// The one options dialog, created at start-up after the main window (nullptr before).
TOptionsForm* OptionsForm();
