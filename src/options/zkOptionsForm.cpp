#include "zkOptionsForm.h"

namespace {
TOptionsForm* TheOptionsForm = nullptr;
}

TOptionsForm::TOptionsForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(tr("Options"));
    TheOptionsForm = this;
    connect(this, &QObject::destroyed, [] { TheOptionsForm = nullptr; });
}

TOptionsForm* OptionsForm() { return TheOptionsForm; }
