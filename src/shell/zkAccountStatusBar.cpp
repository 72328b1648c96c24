#include "zkAccountStatusBar.h"

#include "platform/zkAccessibility.h"
#include "platform/zkTheme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

TAccountStatusBar::TAccountStatusBar(QWidget* parent)
    : QWidget(parent), Color(palette().color(QPalette::ButtonText)) {
    setFixedHeight(BarHeight);
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

QSize TAccountStatusBar::sizeHint() const { return {PanelWidth, BarHeight}; }

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
    p.setFont(font());
    const QRect textRect = rect().adjusted(1, 1, -1, -1);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Text);
}

void TAccountStatusBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
    QWidget::mouseReleaseEvent(event);
}
