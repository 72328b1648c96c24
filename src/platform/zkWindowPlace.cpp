#include "zkWindowPlace.h"

#include <QBasicTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

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
