#pragma once

// Desktop notifications of new alerts (the action "show a desktop notification"): one
// notification per alert window, which further alerts of that window replace while they come
// within BurstMs of each other, so a burst reads "NVDA and 11 more" instead of flooding the
// desktop. A click on a notification brings its window forward with that alert's row selected.

#include "components/zkComponents.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class INotificationService;
class IWindowDesk;
class TAlertForm;

class TAlertNotifier : public QObject {
    Q_OBJECT
public:
    // The service must outlive the notifier; the desk (nullptr without one) brings windows
    // forward on a click.
    TAlertNotifier(INotificationService& service, IWindowDesk* windows,
                   QObject* parent = nullptr);
    ~TAlertNotifier() override;

    // A new alert of the window, for its notification.
    void AlertArrived(TAlertForm& window, const IAlertData& alert);

    // Alerts of a window closer together than this replace its notification.
    static constexpr qint64 BurstMs = 2000;
    // "NVDA 912.40 New high": symbol, price (when known) and description.
    static QString AlertText(const IAlertData& alert);
    // "NVDA and 11 more".
    static QString BurstText(const QString& symbol, int more);

    // Milliseconds on a steady clock; tests put in their own.
    std::function<qint64()> Clock;

private:
    struct TNote;
    // The window's notification now: a new one or the burst's replacement, one call at a time.
    void Send(const std::shared_ptr<TNote>& note);
    void Activated(uint32_t id);
    void Closed(uint32_t id);
    void Remember(uint32_t id, TAlertForm* window, const TAlertData& alert);

    INotificationService& Service;
    IWindowDesk* const Windows;
    std::vector<std::shared_ptr<TNote>> Notes;
    // Every notification the server may still show, so a click on an older one of a window
    // still finds its alert. Oldest first; bounded, for servers that never say one closed.
    struct TShown {
        uint32_t Id = 0;
        QPointer<TAlertForm> Window;
        TAlertData Alert;
    };
    QList<TShown> Shown;
    static constexpr qsizetype MaxShown = 64;
    // A server that answers slowly shows a notification (and may report a click on it, or its
    // end) before its answer brings us the id. What comes for an unknown id while calls are
    // out is kept a while, and taken when the answer names that id.
    struct TEarly {
        uint32_t Id = 0;
        bool Click = false; // else it was closed
        qint64 AtMs = 0;
    };
    QList<TEarly> Early;
    static constexpr qsizetype MaxEarly = 16;
    static constexpr qint64 EarlyMs = 120000;
    int CallsOut = 0;
    void KeepEarly(uint32_t id, bool click);
    void TakeEarly(uint32_t id);
};
