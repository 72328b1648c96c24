#pragma once

#include <QLabel>

// A label that is a link for the mouse and the keyboard: a click opens it, Tab reaches it, Enter,
// Return or Space opens it, and the style's focus frame shows that it has the focus. Its text is
// plain text (link captions come from settings files).
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    // A click, Enter, Return or Space while it has the focus, or an assistive technology's press.
    void Activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
