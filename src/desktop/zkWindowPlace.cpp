#include "zkWindowPlace.h"

#include <QBasicTimer>
#include <QDeadlineTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

QPoint FittedTopLeft(const QRect& frame);

class TFramePlacer;

// The one timer every frame placer looks again on. A layout of thousands of windows would
// otherwise run thousands of timers at once, and each timer the application starts or stops
// (item views start them all the time) pays for every one of them.
class TPlacerClock : public QObject {
public:
    static constexpr int PollMs = 50;

    // Made with the first placer that watches, owned by the application; nullptr when there
    // is none and create is false.
    static TPlacerClock* Instance(bool create = true) {
        static QPointer<TPlacerClock> clock;
        if (!clock && create)
            clock = new TPlacerClock(qApp);
        return clock;
    }
    using QObject::QObject;
    void Add(TFramePlacer* placer);
    void Remove(TFramePlacer* placer);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::vector<TFramePlacer*> Placers;
    QBasicTimer Timer;
};

// Watches one window until the window manager has framed it, then puts the frame where it was
// asked to be (a stored place), or, for a window to be fitted, moves the real frame onto its
// monitor: before the frame is known, a fit leaves the title bar's height off the screen.
// Without a window manager (no frame ever) it gives up ten seconds after the window first
// appeared, when nothing needs mending.
//
// Once framed it watches a moment longer: on a busy desktop Qt may learn the frame before the
// window's own position, so a frame that drifts off the place right after is put back.
class TFramePlacer : public QObject {
public:
    explicit TFramePlacer(QWidget* window) : QObject(window), Window(window) {
        setObjectName(QStringLiteral("zkFramePlacer"));
        window->installEventFilter(this);
        // Made while the window is being shown (from its showEvent): its Show has gone by.
        if (window->isVisible())
            StartWatching();
    }
    ~TFramePlacer() override {
        if (TPlacerClock* clock = TPlacerClock::Instance(false))
            clock->Remove(this);
    }
    void SetPos(const QPoint& pos) { Pos = pos; }
    void SetFit() { Fit = true; }
    bool OnClock = false; // kept by the clock

    // A look on the shared clock: the deadlines first, then the window.
    void Tick() {
        if (!Framed && GiveUp.hasExpired()) {
            Finish();
            return;
        }
        if (Framed && Settle.hasExpired()) {
            Finish();
            return;
        }
        Check();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == Window) {
            switch (event->type()) {
            case QEvent::Show:
                StartWatching();
                Check();
                break;
            case QEvent::Move:
            case QEvent::Resize:
                Check();
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr int SettleMs = 3000;
    static constexpr int GiveUpMs = 10000;

    void StartWatching() {
        // A window whose client area stays put gets no event when it is framed, so look again
        // a few times a second.
        if (Finished || OnClock)
            return;
        TPlacerClock::Instance()->Add(this);
        GiveUp.setRemainingTime(GiveUpMs);
    }
    static constexpr int MaxSettleMoves = 3;

    void Finish() {
        if (Finished)
            return;
        Finished = true;
        if (TPlacerClock* clock = TPlacerClock::Instance(false))
            clock->Remove(this);
        setObjectName(QString());
        if (Window)
            Window->removeEventFilter(this);
        deleteLater();
    }
    void Check() {
        if (Finished || !Window || !Window->isVisible() || InMove)
            return;
        QWindow* handle = Window->windowHandle();
        if (!handle || handle->frameMargins().isNull())
            return; // not framed yet
        if (Window->isMaximized() || Window->isMinimized() || Window->isFullScreen()) {
            Finish();
            return;
        }
        // The platform window's view: the widget learns the frame later, and until then its
        // frame geometry and its move() leave the frame out.
        // Its size from the widget, which has it at once.
        const QRect frame(handle->frameGeometry().topLeft(),
                          Window->size().grownBy(handle->frameMargins()));
        if (!Framed) {
            Framed = true;
            // The place to keep from now on: the one asked for, or where the window manager
            // put it; then onto the monitor when it is to be fitted.
            QPoint target = Pos.value_or(frame.topLeft());
            if (Fit)
                target = FittedTopLeft(QRect(target, frame.size()));
            // A place the window manager chose and that fits is its own: nothing to keep.
            if (!Pos && target == frame.topLeft()) {
                Finish();
                return;
            }
            Pos = target;
            Settle.setRemainingTime(SettleMs);
            // Settling is watched on the clock even for a window framed before it was shown.
            TPlacerClock::Instance()->Add(this);
            if (frame.topLeft() != *Pos)
                MoveTo(*Pos);
            return;
        }
        // Settling: only the known fault is mended, the client area put where its frame
        // belongs; a move the program or the user made since is theirs.
        if (handle->geometry().topLeft() == *Pos && frame.topLeft() != *Pos) {
            if (Moves >= MaxSettleMoves) {
                Finish();
                return;
            }
            MoveTo(*Pos);
        }
    }
    void MoveTo(const QPoint& pos) {
        ++Moves;
        InMove = true;
        QWindow* handle = Window->windowHandle();
        const QMargins margins = handle->frameMargins();
        if (Window->frameGeometry().topLeft() == Window->geometry().topLeft()) {
            // The widget does not know its frame yet: its move() would put the client area at
            // pos (or do nothing, taking it to be there), so place the client area itself.
            handle->setPosition(pos + QPoint(margins.left(), margins.top()));
        } else {
            // Known to both: the widget's move puts the frame there (on X11 the platform
            // window's own frame position does not).
            Window->move(pos);
        }
        InMove = false;
    }

    QPointer<QWidget> Window;
    std::optional<QPoint> Pos;
    bool Fit = false;
    bool Framed = false;
    bool Finished = false;
    bool InMove = false;
    int Moves = 0;
    QDeadlineTimer GiveUp{QDeadlineTimer::Forever};
    QDeadlineTimer Settle{QDeadlineTimer::Forever};
};

void TPlacerClock::Add(TFramePlacer* placer) {
    if (!placer->OnClock) {
        placer->OnClock = true;
        Placers.push_back(placer);
    }
    if (!Timer.isActive())
        Timer.start(PollMs, this);
}

void TPlacerClock::Remove(TFramePlacer* placer) {
    if (!placer->OnClock)
        return;
    placer->OnClock = false;
    const auto it = std::find(Placers.begin(), Placers.end(), placer);
    if (it != Placers.end()) {
        // Order does not matter: each placer watches its own window.
        *it = Placers.back();
        Placers.pop_back();
    }
    if (Placers.empty())
        Timer.stop();
}

void TPlacerClock::timerEvent(QTimerEvent* event) {
    if (event->timerId() != Timer.timerId())
        return;
    // A look may move a window, and events on the way may end or destroy other placers.
    QList<QPointer<TFramePlacer>> placers;
    placers.reserve(qsizetype(Placers.size()));
    for (TFramePlacer* placer : Placers)
        placers << placer;
    for (const QPointer<TFramePlacer>& placer : std::as_const(placers))
        if (placer && placer->OnClock)
            placer->Tick();
}

// Where MoveWindowFrame keeps the last place it was asked for, on the window itself.
constexpr char kPlacedProperty[] = "_zk_placed_pos";

TFramePlacer* FramePlacerOf(QWidget* window) {
    if (auto* placer = window->findChild<QObject*>(QStringLiteral("zkFramePlacer"),
                                                   Qt::FindDirectChildrenOnly))
        return static_cast<TFramePlacer*>(placer);
    return new TFramePlacer(window);
}

bool IsFramed(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return window->isVisible() && handle && !handle->frameMargins().isNull();
}

} // namespace

bool PlatformPlacesWindows(const QString& platformName) {
    // "wayland", "wayland-egl", "wayland-brcm" and the like; XWayland is "xcb".
    return !platformName.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive);
}

bool WindowPositionsKnown() {
    return PlatformPlacesWindows(QGuiApplication::platformName());
}

void MoveWindowFrame(QWidget* window, const QPoint& pos) {
    if (!window)
        return;
    window->setProperty(kPlacedProperty, pos);
    // A move would only make Qt report a place the compositor never gave the window (and a
    // placer would keep moving it, seeing its frame elsewhere).
    if (!WindowPositionsKnown())
        return;
    window->move(pos);
    // Framed already: Qt knows the frame, and the move above is exact.
    if (!IsFramed(window))
        FramePlacerOf(window)->SetPos(pos);
}

std::optional<QPoint> PlacedWindowPos(const QWidget& window) {
    const QVariant placed = window.property(kPlacedProperty);
    if (!placed.isValid())
        return std::nullopt;
    return placed.toPoint();
}

QPoint KeptWindowPos(bool positionsKnown, const QPoint& current,
                     const std::optional<QPoint>& placed, const QPoint& fallback) {
    if (positionsKnown)
        return current;
    return placed.value_or(fallback);
}

QPoint KeptWindowPos(const QWidget& window, const QPoint& fallback) {
    return KeptWindowPos(WindowPositionsKnown(), window.pos(), PlacedWindowPos(window), fallback);
}

QPoint FitRectToArea(const QRect& window, const QRect& area) {
    // Edges as exclusive coordinates, so a window exactly as wide as the area fits.
    int left = window.x();
    int top = window.y();
    if (left + window.width() > area.x() + area.width())
        left = area.x() + area.width() - window.width();
    if (left < area.x())
        left = area.x();
    if (top + window.height() > area.y() + area.height())
        top = area.y() + area.height() - window.height();
    if (top < area.y())
        top = area.y();
    return {left, top};
}

namespace {
// Gap between two rectangles along one axis; 0 when their spans meet or overlap.
int64_t axisGap(int aStart, int aLength, int bStart, int bLength) {
    const int64_t aEnd = int64_t(aStart) + aLength;
    const int64_t bEnd = int64_t(bStart) + bLength;
    if (aEnd <= bStart)
        return bStart - aEnd;
    if (bEnd <= aStart)
        return aStart - bEnd;
    return 0;
}
} // namespace

int MonitorOfRect(const QRect& window, const QList<QRect>& monitors) {
    int best = -1;
    int64_t bestOverlap = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect common = window.intersected(monitors[i]);
        const int64_t overlap = common.isEmpty() ? 0 : int64_t(common.width()) * common.height();
        if (overlap > bestOverlap) {
            bestOverlap = overlap;
            best = i;
        }
    }
    if (best >= 0)
        return best;
    // Off every monitor (an empty window counts as a point): take the nearest one.
    int64_t bestDistance = INT64_MAX;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect& m = monitors[i];
        const int64_t dx = axisGap(window.x(), window.width(), m.x(), m.width());
        const int64_t dy = axisGap(window.y(), window.height(), m.y(), m.height());
        const int64_t distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

namespace {
QPoint FittedTopLeft(const QRect& frame) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    QList<QRect> monitors;
    for (const QScreen* screen : screens)
        monitors << screen->geometry();
    const int index = MonitorOfRect(frame, monitors);
    const QScreen* screen = index >= 0 ? screens[index] : QGuiApplication::primaryScreen();
    return screen ? FitRectToArea(frame, screen->availableGeometry()) : frame.topLeft();
}
} // namespace

void FitToMonitor(QWidget* window) {
    if (!window || !WindowPositionsKnown())
        return;
    window = window->window();
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return;
    // The window's own screen() lags behind a move made before it is shown, so decide by
    // geometry, as the window system will once it appears.
    const QRect frame = window->frameGeometry();
    const QPoint topLeft = FittedTopLeft(frame);
    if (topLeft != frame.topLeft())
        MoveWindowFrame(window, topLeft); // a window's position is its frame's
    // Not framed yet: the fit above knew the client area only; fit the real frame once known.
    if (!IsFramed(window))
        FramePlacerOf(window)->SetFit();
}

Qt::WindowStates WindowStateFromStored(int32_t state) {
    switch (state) {
    case 1:
        return Qt::WindowMinimized;
    case 2:
        return Qt::WindowMaximized;
    default:
        return Qt::WindowNoState;
    }
}

int32_t StoredWindowState(const QWidget& window) {
    if (window.isMinimized())
        return 1;
    if (window.isMaximized() || window.isFullScreen())
        return 2;
    return 0;
}
