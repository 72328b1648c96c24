#include "zkWindowOrder.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <algorithm>

namespace zkWindowOrder {
namespace {

struct TStamps {
    quint64 Created = 0; // 0: created before the watch began
    quint64 Focused = 0; // 0: never had the focus
};

class TWatcher : public QObject {
public:
    QHash<const QWidget*, TStamps> Stamps;
    quint64 Sequence = 0;
    quint64 StackingChanges = 0;

    TStamps StampsOf(const QWidget* w) const { return Stamps.value(w); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Create:
        case QEvent::ParentChange: // a widget that became a window later (setWindowFlags)
            if (watched->isWidgetType())
                Note(static_cast<QWidget*>(watched), false);
            break;
        case QEvent::WindowActivate:
            if (watched->isWidgetType())
                Note(static_cast<QWidget*>(watched), true);
            break;
        case QEvent::ZOrderChange:
        case QEvent::Show:
        case QEvent::Hide:
            if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
                ++StackingChanges;
            break;
        default:
            break;
        }
        return false;
    }

private:
    void Note(QWidget* w, bool focused) {
        if (!w->isWindow())
            return;
        auto it = Stamps.find(w);
        if (it == Stamps.end()) {
            it = Stamps.insert(w, TStamps{focused ? 0 : ++Sequence, 0});
            // The key is only compared, never followed; it goes with the window.
            connect(w, &QObject::destroyed, this, [this, w] { Stamps.remove(w); });
        }
        if (focused)
            it->Focused = ++Sequence;
    }
};

QPointer<TWatcher> Watcher;

bool IsRingWindow(const QWidget* w) {
    const Qt::WindowType type = w->windowType();
    return w->isWindow() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop;
}

} // namespace

void Install() {
    if (Watcher || !qApp)
        return;
    Watcher = new TWatcher;
    Watcher->setParent(qApp);
    qApp->installEventFilter(Watcher);
}

quint64 StackingChanges() {
    Install();
    return Watcher ? Watcher->StackingChanges : 0;
}

QWidgetList TopLevelWindows() {
    Install();
    QWidgetList windows;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget* w : all)
        if (IsRingWindow(w))
            windows << w;
    if (!Watcher)
        return windows;
    std::stable_sort(windows.begin(), windows.end(), [](const QWidget* a, const QWidget* b) {
        const TStamps sa = Watcher->StampsOf(a);
        const TStamps sb = Watcher->StampsOf(b);
        if (sa.Focused != sb.Focused)
            return sa.Focused > sb.Focused; // the focused ones first, the latest first
        return sa.Created < sb.Created;
    });
    return windows;
}

} // namespace zkWindowOrder
