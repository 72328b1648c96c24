#pragma once

#include <QColor>
#include <QWidget>

// One of the main window's two account bars: a single owner-drawn panel whose text is written
// at its top-left corner in the bar's font and text colour, on the bar's face colour. The
// hint (tooltip) carries the whole text, which may be longer than the bar.
class TAccountStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit TAccountStatusBar(QWidget* parent = nullptr);

    QString PanelText() const { return Text; }
    void SetPanelText(const QString& text);
    QColor TextColor() const { return Color; }
    void SetTextColor(const QColor& color);
    // The panel's designed width; the last panel of a bar stretches over the rest of it.
    static constexpr int PanelWidth = 50;
    static constexpr int BarHeight = 19;

    QSize sizeHint() const override;

signals:
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString Text;
    QColor Color;
};
