#pragma once

// The OK/Cancel row of the alert window's dialogs: right-aligned, OK the default button and
// Cancel not a default on Enter (Enter in any field means OK), Cancel rejecting the dialog.
class QDialog;
class QHBoxLayout;
class QPushButton;

struct TOkCancelRow {
    QHBoxLayout* Layout = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* Cancel = nullptr;
};

// The caller adds Layout to the dialog's layout and connects OK to its own check-and-accept.
TOkCancelRow NewOkCancelRow(QDialog* dialog);
