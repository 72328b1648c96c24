#pragma once

#include <QDialog>

// The Actions dialog of an alert window. Stand-in until the actions work lands: the dialog
// exists (the main window creates it once) but edits nothing yet.
class TActionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TActionsForm(QWidget* owner);
};
