#include "zkClientStyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QProxyStyle>

namespace {

// Asks the style for its icon only when it is first drawn or measured.
class TDrawnWhenNeeded final : public QIconEngine {
public:
    TDrawnWhenNeeded(QStyle* style, QStyle::StandardPixmap which) : Style(style), Which(which) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        Real().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Real().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Real().pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return Real().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return Real().availableSizes(mode, state);
    }
    // Asked whenever the icon is set; the style has this icon, so it is not null.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("velquist-drawn-when-needed"); }
    QIconEngine* clone() const override {
        auto* copy = new TDrawnWhenNeeded(Style, Which);
        copy->Made = Made;
        return copy;
    }

private:
    const QIcon& Real() {
        if (Made.isNull() && Style)
            Made = Style->standardIcon(Which);
        return Made;
    }

    QPointer<QStyle> Style;
    QStyle::StandardPixmap Which;
    QIcon Made;
};

class TClientStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        // The menu bar's and tool bars' overflow arrows, made with every menu bar. Asked
        // without an option, the arrow follows the application's direction, as it would here.
        if (!option && (which == SP_ToolBarHorizontalExtensionButton ||
                        which == SP_ToolBarVerticalExtensionButton))
            return QIcon(new TDrawnWhenNeeded(baseStyle(), which));
        return QProxyStyle::standardIcon(which, option, widget);
    }
};

} // namespace

namespace zkClientStyle {

void Install() {
    QStyle* chosen = QApplication::style();
    if (!chosen || dynamic_cast<TClientStyle*>(chosen))
        return;
    // The wrapper takes the chosen style over; the application takes the wrapper.
    QApplication::setStyle(new TClientStyle(chosen));
}

QString BaseName(const QStyle* style) {
    while (const auto* proxy = qobject_cast<const QProxyStyle*>(style))
        style = proxy->baseStyle();
    return style ? style->name() : QString();
}

} // namespace zkClientStyle
