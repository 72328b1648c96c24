#pragma once

#include <QLabel>

// A label that is a link for the keyboard as well: Tab reaches it, Enter, Return or Space opens
// it, and the style's focus frame shows that it has the focus. Its text is plain text (link
// captions come from settings files). What a mouse click does is its owner's, as before.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    // Enter, Return or Space while it has the focus, or an assistive technology's press.
    void Activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
