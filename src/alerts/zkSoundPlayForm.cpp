#include "zkSoundPlayForm.h"

TSoundPlayForm::TSoundPlayForm(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("SoundPlayForm"));
}
