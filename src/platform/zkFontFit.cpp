#include "zkFontFit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QWidget>

#include <cmath>

namespace {

// The font the windows were drawn for: Qt's default on a desktop that names none (DejaVu Sans 9
// on Debian). Their layouts ask for a little more than they were given even in it, and take
// the squeeze without cutting a text.
bool LargerThanDesigned(const QFont& font) {
    static const QFont designed(QStringLiteral("Sans Serif"), 9);
    const QFontMetricsF now(font), then(designed);
    return now.height() > then.height() + 0.5 ||
           now.averageCharWidth() > then.averageCharWidth() + 0.25;
}

QSize Needed(QWidget* window, QSize designed, bool inAnyFont) {
    QLayout* layout = window->layout();
    if (!layout || (!inAnyFont && !LargerThanDesigned(window->font())))
        return designed;
    layout->activate();
    QSize needed = designed.expandedTo(layout->totalMinimumSize());
    // Wrapped text needs more height the narrower it is.
    if (layout->hasHeightForWidth())
        needed.setHeight(qMax(needed.height(), layout->totalHeightForWidth(needed.width())));
    return needed;
}

// Sets the window's fixed or least size again on the events that change what its layout needs.
class TSizeKeeper : public QObject {
public:
    TSizeKeeper(QWidget* window, QSize designed, bool fixed, bool inAnyFont)
        : QObject(window), Designed(designed), Fixed(fixed), InAnyFont(inAnyFont) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != parent())
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::FontChange:
        case QEvent::StyleChange:
            Apply(static_cast<QWidget*>(watched));
            break;
        default:
            break;
        }
        return false;
    }

private:
    void Apply(QWidget* window) const {
        const QSize size = Needed(window, Designed, InAnyFont);
        if (Fixed) {
            if (size != window->minimumSize() || size != window->maximumSize())
                window->setFixedSize(size);
        } else if (size != window->minimumSize()) {
            window->setMinimumSize(size); // a smaller window grows to it
        }
    }

    QSize Designed;
    bool Fixed;
    bool InAnyFont;
};

} // namespace

namespace zkFontFit {

void FixedSizeAtLeast(QWidget* window, QSize designed, TGrowth growth) {
    window->setFixedSize(designed);
    new TSizeKeeper(window, designed, true, growth == TGrowth::InAnyFont);
}

void MinimumSizeAtLeast(QWidget* window, QSize designed) {
    window->setMinimumSize(designed);
    new TSizeKeeper(window, designed, false, false);
}

std::optional<QFont> FittingFont(const QFont& font, const QString& text, int width,
                                 qreal minimumScale) {
    const qreal advance = QFontMetricsF(font).horizontalAdvance(text);
    if (advance <= width)
        return font;
    // Widths grow about in step with the size: the search starts at the estimate.
    return LargestFitting(font, minimumScale, font.pointSizeF() * width / advance,
                          [&text, width](const QFont& fitted) {
                              return QFontMetricsF(fitted).horizontalAdvance(text) <= width;
                          });
}

std::optional<QFont> LargestFitting(const QFont& font, qreal minimumScale, qreal startSize,
                                    const std::function<bool(const QFont&)>& fits) {
    if (font.pointSizeF() <= 0)
        return std::nullopt; // sized in pixels: not ours to scale
    const qreal smallest = font.pointSizeF() * minimumScale;
    // Hinting may round a size up, so step down from the start until it fits.
    qreal size = qMax(smallest, qMin(startSize, font.pointSizeF()));
    QFont fitted = font;
    for (;;) {
        // Whole tenths of a point: a few sizes for the font engine to keep, not one per pixel.
        size = qMax(smallest, std::floor(size * 10) / 10);
        fitted.setPointSizeF(size);
        if (fits(fitted))
            return fitted;
        if (size <= smallest)
            return std::nullopt;
        size -= 0.1;
    }
}

} // namespace zkFontFit
