#include "zkAccountStatusBar.h"

#include "desktop/zkAccessibility.h"
#include "desktop/zkTheme.h"
#include "platform/zkFontFit.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

TAccountStatusBar::TAccountStatusBar(QWidget* parent)
    : QWidget(parent), Color(palette().color(QPalette::ButtonText)) {
    setFixedHeight(HeightFor(font()));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    // Screen readers read the panel as the text it shows.
    zkAccessibility::SetRole(this, QAccessible::StaticText);
}

void TAccountStatusBar::SetPanelText(const QString& text) {
    if (text == Text)
        return;
    Text = text;
    zkAccessibility::SetText(this, text.trimmed());
    update();
}

void TAccountStatusBar::SetTextColor(const QColor& color) {
    if (color == Color)
        return;
    Color = color;
    update();
}

QSize TAccountStatusBar::sizeHint() const {
    return {PanelWidth, HeightFor(font())};
}

int TAccountStatusBar::HeightFor(const QFont& font) {
    // The text's line and the panel's edges.
    return qMax(int(BarHeight), QFontMetrics(font).height() + 2);
}

void TAccountStatusBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        setFixedHeight(HeightFor(font()));
    QWidget::changeEvent(event);
}

QRect TAccountStatusBar::TextRect() const {
    return rect().adjusted(1, 1, -1, -1);
}

QFont TAccountStatusBar::ShownFont() const {
    return zkFontFit::FittingFont(font(), Text, TextRect().width(), MinimumFontScale)
        .value_or(font());
}

QString TAccountStatusBar::ShownText() const {
    return ShownText(ShownFont());
}

QString TAccountStatusBar::ShownText(const QFont& shown) const {
    return QFontMetrics(shown).elidedText(Text, Qt::ElideRight, TextRect().width());
}

void TAccountStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Button));
    // A sunken panel edge, as status bar panels have.
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(0, height() - 1, width() - 1, height() - 1);
    // Green, yellow and red are the states' colours; on a face where the pure colour would
    // not read (yellow on light grey, red or green on a dark theme) a shade of it that does.
    p.setPen(zkTheme::Readable(Color, pal.color(QPalette::Button)));
    const QFont shown = ShownFont();
    p.setFont(shown);
    p.drawText(TextRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownText(shown));
}

void TAccountStatusBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
    QWidget::mouseReleaseEvent(event);
}
