#include "zkApplicationIcon.h"

#include <QIconEngine>
#include <QPainter>

#include <algorithm>

namespace {

// Hands everything to the whole icon but the list of its sizes.
class TSmallSizesEngine final : public QIconEngine {
public:
    explicit TSmallSizesEngine(QIcon all) : All(std::move(all)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        All.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return All.actualSize(size, mode, state);
    }
    // Sizes here are in pixels: the whole icon is asked at a ratio of one.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return All.pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
        return All.pixmap(size, 1.0, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        const QList<QSize> sizes = All.availableSizes(mode, state);
        QList<QSize> small;
        std::copy_if(sizes.begin(), sizes.end(), std::back_inserter(small), [](const QSize& size) {
            return size.width() <= zkApplicationIcon::StartSizeLimit &&
                   size.height() <= zkApplicationIcon::StartSizeLimit;
        });
        return small.isEmpty() ? sizes : small;
    }
    bool isNull() override { return All.isNull(); }
    QString key() const override { return QStringLiteral("velquist-small-sizes"); }
    QIconEngine* clone() const override { return new TSmallSizesEngine(All); }

private:
    QIcon All;
};

} // namespace

namespace zkApplicationIcon {

QIcon NamingSmallSizes(const QIcon& all) {
    if (all.isNull())
        return all;
    return QIcon(new TSmallSizesEngine(all));
}

} // namespace zkApplicationIcon
