#include "zkSoundSetupForm.h"

TSoundSetupForm::TSoundSetupForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SoundSetupForm"));
    setWindowTitle(tr("Sound Setup"));
}
