#include "zkWindowOrder.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <list>

namespace zkWindowOrder {
namespace {

// The order is kept as the events come, never worked out when asked: Qt's list of top-level
// widgets is found by going through every widget of the application, which with thousands of
// windows costs milliseconds each time. Two lists: the windows that had the focus, the latest
// first, and those that never had it, the oldest first. A window goes from one to the other
// or to the front by a splice, so nothing here grows with the number of windows but the
// snapshot itself.
class TWatcher : public QObject {
public:
    using TList = std::list<QWidget*>;
    TList Focused;
    TList Unfocused;
    quint64 StackingChanges = 0;

    // The windows there are already count as the oldest, in the order Qt gives them.
    void AdoptExisting() {
        for (QWidget* w : QApplication::topLevelWidgets())
            Note(w, false);
    }

    QWidgetList Snapshot(bool (*include)(const QWidget*)) const {
        QWidgetList windows;
        windows.reserve(qsizetype(Entries.size()));
        for (const TList* list : {&Focused, &Unfocused})
            for (QWidget* w : *list)
                if (include(w))
                    windows << w;
        return windows;
    }

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
        case QEvent::Show:
            // A shown child made a window by new flags alone gets no ParentChange; seen here,
            // it counts with the windows older than the watch.
            if (IsWindow(watched) && !Entries.contains(static_cast<QWidget*>(watched)))
                Add(static_cast<QWidget*>(watched), Unfocused, Unfocused.begin());
            [[fallthrough]];
        case QEvent::ZOrderChange:
        case QEvent::Hide:
            if (IsWindow(watched))
                ++StackingChanges;
            break;
        default:
            break;
        }
        return false;
    }

private:
    struct TEntry {
        TList::iterator At;
        bool Focused = false;
    };
    // Keyed by the window; the key is only compared, never followed, and goes with the window.
    QHash<const QWidget*, TEntry> Entries;

    static bool IsWindow(const QObject* o) {
        return o->isWidgetType() && static_cast<const QWidget*>(o)->isWindow();
    }

    void Add(QWidget* w, TList& list, TList::iterator before) {
        Entries.insert(w, TEntry{list.insert(before, w), &list == &Focused});
        connect(w, &QObject::destroyed, this, [this, w] { Forget(w); });
    }

    void Forget(const QWidget* w) {
        const auto it = Entries.constFind(w);
        if (it == Entries.cend())
            return;
        (it->Focused ? Focused : Unfocused).erase(it->At);
        Entries.erase(it);
    }

    void Note(QWidget* w, bool focused) {
        if (!w->isWindow())
            return;
        const auto it = Entries.find(w);
        if (it == Entries.end()) {
            if (focused)
                Add(w, Focused, Focused.begin());
            else
                Add(w, Unfocused, Unfocused.end());
            return;
        }
        if (!focused)
            return; // a window keeps the place it has
        Focused.splice(Focused.begin(), it->Focused ? Focused : Unfocused, it->At);
        it->Focused = true;
    }
};

QPointer<TWatcher> Watcher;

bool IsRingWindow(const QWidget* w) {
    const Qt::WindowType type = w->windowType();
    // A splash screen is no window to switch to: it is gone in a moment, and brought forward
    // it would stand over the window the user works in.
    return w->isWindow() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop &&
           type != Qt::SplashScreen;
}

} // namespace

void Install() {
    if (Watcher || !qApp)
        return;
    Watcher = new TWatcher;
    Watcher->setParent(qApp);
    qApp->installEventFilter(Watcher);
    Watcher->AdoptExisting();
}

quint64 StackingChanges() {
    Install();
    return Watcher ? Watcher->StackingChanges : 0;
}

QWidgetList TopLevelWindows() {
    Install();
    if (!Watcher)
        return {};
    return Watcher->Snapshot(IsRingWindow);
}

} // namespace zkWindowOrder
