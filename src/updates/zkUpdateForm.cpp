#include "zkUpdateForm.h"

TUpdateForm::TUpdateForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("UpdateForm"));
}

void TUpdateForm::CheckSchedule(bool startup) {
    if (startup)
        ++StartupChecks;
}
