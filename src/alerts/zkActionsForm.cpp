#include "zkActionsForm.h"

TActionsForm::TActionsForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("ActionsForm"));
    setWindowTitle(tr("Actions"));
}
