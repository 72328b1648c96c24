#include "zkWindowPlace.h"

#include <QBasicTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>

namespace {

// Watches one window until the window manager has framed it, then puts the frame where it was
// asked to be. Without a window manager (no frame ever) it gives up a few seconds after the
// window first appeared, when nothing needs mending.
class TFramePlacer : public QObject {
public:
    TFramePlacer(QWidget* window, const QPoint& pos) : QObject(window), Window(window), Pos(pos) {
        setObjectName(QStringLiteral("zkFramePlacer"));
        window->installEventFilter(this);
    }
    void SetPos(const QPoint& pos) { Pos = pos; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == Window) {
            switch (event->type()) {
            case QEvent::Show:
                // A window whose client area stays put gets no event when it is framed, so
                // look again a few times a second.
                if (!Poll.isActive()) {
                    Poll.start(50, this);
                    QTimer::singleShot(5000, this, &TFramePlacer::Finish);
                }
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
    void timerEvent(QTimerEvent* event) override {
        if (event->timerId() == Poll.timerId())
            Check();
    }

private:
    void Finish() {
        Poll.stop();
        setObjectName(QString());
        if (Window)
            Window->removeEventFilter(this);
        deleteLater();
    }
    void Check() {
        if (!Window || !Window->isVisible())
            return;
        const QWindow* handle = Window->windowHandle();
        if (!handle || handle->frameMargins().isNull())
            return; // not framed yet
        // Done before moving: the move below raises more events of this window.
        Finish();
        if (Window->frameGeometry().topLeft() != Pos && !Window->isMaximized() &&
            !Window->isMinimized() && !Window->isFullScreen())
            Window->move(Pos);
    }

    QPointer<QWidget> Window;
    QPoint Pos;
    QBasicTimer Poll;
};

} // namespace

void MoveWindowFrame(QWidget* window, const QPoint& pos) {
    if (!window)
        return;
    window->move(pos);
    // Framed already: Qt knows the frame, and the move above is exact.
    const QWindow* handle = window->windowHandle();
    if (window->isVisible() && handle && !handle->frameMargins().isNull())
        return;
    if (auto* placer = window->findChild<QObject*>(QStringLiteral("zkFramePlacer"),
                                                   Qt::FindDirectChildrenOnly))
        static_cast<TFramePlacer*>(placer)->SetPos(pos);
    else
        new TFramePlacer(window, pos);
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

void FitToMonitor(QWidget* window) {
    if (!window)
        return;
    window = window->window();
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return;
    // The window's own screen() lags behind a move made before it is shown, so decide by
    // geometry, as the window system will once it appears.
    QList<QRect> monitors;
    for (const QScreen* screen : screens)
        monitors << screen->geometry();
    const QRect frame = window->frameGeometry();
    const int index = MonitorOfRect(frame, monitors);
    const QScreen* screen = index >= 0 ? screens[index] : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QPoint topLeft = FitRectToArea(frame, screen->availableGeometry());
    if (topLeft != frame.topLeft())
        MoveWindowFrame(window, topLeft); // a window's position is its frame's
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
