#include "desktop/zkWindowRing.h"

#include "desktop/zkWindowOrder.h"

#include <QKeyEvent>

TFormRing& FormRing() {
    static TFormRing ring;
    return ring;
}

void TFormRing::Rebuild() {
    if (Batches > 0) {
        RebuildWaiting = true;
        return;
    }
    Items.clear();
    for (QWidget* w : zkWindowOrder::TopLevelWindows())
        Items.append({w});
}

TFormRing::TBatch::TBatch() {
    ++FormRing().Batches;
}

TFormRing::TBatch::~TBatch() {
    TFormRing& ring = FormRing();
    if (--ring.Batches == 0 && ring.RebuildWaiting) {
        ring.RebuildWaiting = false;
        ring.Rebuild();
    }
}

QWidget* TFormRing::NextForm() {
    if (Items.isEmpty()) {
        Position = -1;
        return nullptr;
    }
    Position = Position < Items.size() - 1 ? Position + 1 : 0;
    return Items[Position].Form;
}

QWidget* TFormRing::PreviousForm() {
    if (Items.isEmpty()) {
        Position = -1;
        return nullptr;
    }
    // A position left beyond a ring that shrank steps back to the last item as well.
    Position =
        (Position <= 0 || Position > Items.size()) ? int32_t(Items.size() - 1) : Position - 1;
    return Items[Position].Form;
}

void TFormRing::BringToFront(QWidget* (TFormRing::*step)()) {
    // At most one full turn, so a ring without a visible window cannot spin forever; windows
    // destroyed since the last rebuild are skipped.
    for (qsizetype tries = 0; tries < Items.size(); ++tries) {
        QWidget* w = (this->*step)();
        if (w && w->isVisible()) {
            w->raise();
            w->activateWindow();
            return;
        }
    }
}

bool TFormRing::HandleWindowKeys(int key, Qt::KeyboardModifiers shift) {
    if (key == Qt::Key_F1) {
        ShowHelp();
        return true;
    }
    // Only Ctrl counts: Ctrl+Shift+N and Ctrl+Alt+N cycle too.
    if (!(shift & Qt::ControlModifier))
        return false;
    if (key == Qt::Key_N) {
        BringToFront(&TFormRing::NextForm);
        return true;
    }
    if (key == Qt::Key_P) {
        BringToFront(&TFormRing::PreviousForm);
        return true;
    }
    return false;
}

void TFormRing::ShowHelp() const {
    if (Help)
        Help();
}

namespace {
TWindowRingHooks& Hooks() {
    static TWindowRingHooks hooks;
    return hooks;
}
} // namespace

void SetWindowRingHooks(TWindowRingHooks hooks) {
    Hooks() = std::move(hooks);
}

void InstallWindowRing(std::function<void()> help) {
    FormRing().SetHelpAction(std::move(help));
    SetWindowRingHooks({[] { FormRing().Rebuild(); },
                        [](int key, Qt::KeyboardModifiers shift) {
                            return FormRing().HandleWindowKeys(key, shift);
                        },
                        [] { FormRing().ShowHelp(); }});
}

void JoinWindowRing() {
    if (Hooks().Join)
        Hooks().Join();
}

bool HandleRingKeys(int key, Qt::KeyboardModifiers shift) {
    return Hooks().Keys && Hooks().Keys(key, shift);
}

bool HandleRingKeys(QKeyEvent* event) {
    if (!event || !HandleRingKeys(event->key(), event->modifiers()))
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
