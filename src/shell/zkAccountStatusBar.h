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
    // The designed height; a font too tall for it makes the bar taller (HeightFor).
    static constexpr int BarHeight = 19;
    // The text's smallest size, against the bar's font, before it is cut short instead.
    static constexpr qreal MinimumFontScale = 0.8;
    static int HeightFor(const QFont& font);

    // Where the text goes, the font it is drawn in there (the bar's, or smaller where the text
    // would not fit), and the text as drawn (cut short with an ellipsis where even the smallest
    // font is too wide).
    QRect TextRect() const;
    QFont ShownFont() const;
    QString ShownText() const;

    QSize sizeHint() const override;

signals:
    void Click();

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString ShownText(const QFont& shown) const;

    QString Text;
    QColor Color;
};
