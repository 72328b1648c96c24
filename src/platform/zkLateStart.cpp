#include "platform/zkLateStart.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

namespace zkLateStart {

void AfterFirstIdle(QObject* context, std::function<void()> work) {
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, context,
        [context, work = std::move(work)]() mutable {
            QTimer::singleShot(DelayMs, context, std::move(work));
        },
        Qt::SingleShotConnection);
}

} // namespace zkLateStart
