#include "zkWindowRing.h"

#include "zkMainForm.h"
#include "platform/zkWindowKeys.h"

#include "platform/zkWindowOrder.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

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

void TFormRing::ShowHelp() {
    TZentrikProMainForm* main = ZentrikProMainForm();
    if (!main || !main->HelpMenu)
        return;
    const QList<QAction*> items = main->HelpMenu->actions();
    // Without configured entries the first item is the separator, which does nothing.
    if (!items.isEmpty() && !items.first()->isSeparator())
        items.first()->trigger();
}

void RebuildWindowRing() {
    FormRing().Rebuild();
}

void HandleWindowKeys(QWidget*, int& key, Qt::KeyboardModifiers shift) {
    if (FormRing().HandleWindowKeys(key, shift))
        key = 0;
}

bool HandleWindowKeys(QKeyEvent* event) {
    if (!event || !FormRing().HandleWindowKeys(event->key(), event->modifiers()))
        return false;
    event->accept();
    return true;
}

void InstallWindowRingHooks() {
    SetWindowRingHooks({[] { RebuildWindowRing(); },
                        [](int key, Qt::KeyboardModifiers shift) {
                            return FormRing().HandleWindowKeys(key, shift);
                        },
                        [] { TFormRing::ShowHelp(); }});
}
