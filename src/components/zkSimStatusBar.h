#pragma once

#include "zkComponents.h"

#include <QFontMetrics>
#include <QPointer>
#include <QTimer>
#include <QWidget>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateAccessibleText();
    QTimer Tick;
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
