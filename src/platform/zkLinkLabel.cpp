#include "zkLinkLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::StrongFocus);
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        !event->isAutoRepeat() && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        // Taken here, so a dialog's default button does not see the Enter too.
        event->accept();
        emit Activated();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A click is a release over the label that was pressed.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit Activated();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}
