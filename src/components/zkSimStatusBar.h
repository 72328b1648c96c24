#pragma once

#include "zkComponents.h"
#include "zkSimClock.h"

#include <QFontMetrics>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class TSimService;

// A slim strip: the market session on the left, the service clock (New York) on the right.
class TSimStatusStrip : public QWidget {
    Q_OBJECT
public:
    explicit TSimStatusStrip(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QString SessionText() const;
    QString ClockText() const;
    // "Market: <session>" when it fits the width, else the session, cut short if need be.
    static QString FitSessionText(const QFontMetrics& metrics, int width, const QString& session);

    // How a strip width pixels wide in font shows a session: the clock's font (the session's
    // is its bold), the session's text and the room it has. The font is made smaller, down to
    // MinimumFontScale of its size, where "Market: Open" and the clock would not fit side by
    // side; longer sessions then give up their label as they do in the designed font.
    struct TFit {
        QFont Font;
        QString Session;
        int SessionWidth = 0;
    };
    static TFit Fit(const QFont& font, int width, const QString& session);
    static constexpr qreal MinimumFontScale = 0.8;
    // Fit for this strip's font and width: the font is searched for once per font and width,
    // then only the session's text is fitted.
    TFit Shown(const QString& session) const;

    // What the strip shows at an instant: the session (its dot's colour and its text) and the
    // clock's text.
    struct TShown {
        TSimMarketSession Session;
        QString Clock;
        bool operator==(const TShown&) const = default;
    };
    static TShown ShownAt(const QDateTime& utc);
    // The strip's clock instead of the system's (tests); an empty one gives it back.
    void SetClockForTest(std::function<QDateTime()> clock);
    // What the strip does at the start of each second (TSecondTick): repaints if what it shows
    // changed since its last paint, keeps its texts for screen readers and its tooltip.
    void Refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Fit's font and the session's room, without a session.
    static TFit FitFont(const QFont& font, int width);
    // fit with the session's text fitted to its room.
    static TFit WithSession(TFit fit, const QString& session);
    void UpdateAccessibleText();
    // The session's whole name when the strip shows less of it.
    void UpdateToolTip();
    QDateTime Now() const;
    // To the second's tick, while shown.
    QMetaObject::Connection Tick;
    std::function<QDateTime()> Clock;
    // What the last paint showed.
    std::optional<TShown> Painted;
    // FitFont of the font and width it was made for.
    mutable std::optional<TFit> Fitted;
    mutable QFont FittedFor;
    mutable int FittedWidth = -1;
};

class TSimStatusBarX : public IStatusBarX {
    Q_OBJECT
public:
    explicit TSimStatusBarX(std::shared_ptr<TSimService> service);
    ~TSimStatusBarX() override;
    QWidget* Widget() override { return Strip; }

private:
    std::shared_ptr<TSimService> Service;
    QPointer<TSimStatusStrip> Strip;
};
