#include "zkOpenLink.h"

#include "platform/zkShell.h"
#include "platform/zkWindowPlace.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstdint>

void OpenLink(const QString& address) {
    QString target = address;
    if (!target.contains(QStringLiteral("://"))) {
        // Settings files written on Windows name local files with backslashes.
        target.replace(QLatin1Char('\\'), QLatin1Char('/'));
        target.prepend(QDir::currentPath());
    }
    zkShell::OpenDocument(target);
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
