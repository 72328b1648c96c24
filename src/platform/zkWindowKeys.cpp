#include "zkWindowKeys.h"

#include <QKeyEvent>

namespace {
TWindowRingHooks& Hooks() {
    static TWindowRingHooks hooks;
    return hooks;
}
} // namespace

void SetWindowRingHooks(TWindowRingHooks hooks) {
    Hooks() = std::move(hooks);
}

void JoinWindowRing() {
    if (Hooks().Join)
        Hooks().Join();
}

bool HandleRingKeys(QKeyEvent* event) {
    if (!event || !Hooks().Keys || !Hooks().Keys(event->key(), event->modifiers()))
        return false;
    event->accept();
    return true;
}

bool HandleHelpKey(QKeyEvent* event) {
    if (!event || event->key() != Qt::Key_F1)
        return false;
    if (Hooks().Help)
        Hooks().Help();
    event->accept();
    return true;
}
