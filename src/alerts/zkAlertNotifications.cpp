#include "zkAlertNotifications.h"

#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "desk/zkWindowDesk.h"
#include "desktop/zkDesktopNotifications.h"

#include <algorithm>
#include <chrono>

struct TAlertNotifier::TNote {
    QPointer<TAlertForm> Window;
    // The notification shown for the window's latest burst (0: none, or none known yet).
    uint32_t Id = 0;
    // Alerts in the burst, the latest one, and when it came.
    int Count = 0;
    TAlertData Latest;
    qint64 LastMs = 0;
    // A call is out (its answer brings the id the next replacement needs), and whether an
    // alert came meanwhile; only the latest content is sent after it.
    bool InFlight = false;
    bool Waiting = false;
    // Counts the window's separate notifications: an answer for an earlier one is no id for
    // the current burst.
    int Generation = 0;
};

TAlertNotifier::TAlertNotifier(INotificationService& service, IWindowDesk* windows,
                               QObject* parent)
    : QObject(parent), Service(service), Windows(windows) {
    Clock = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    const QPointer<TAlertNotifier> self = this;
    Service.OnActivated = [self](uint32_t id) {
        if (self)
            self->Activated(id);
    };
    Service.OnClosed = [self](uint32_t id) {
        if (self)
            self->Closed(id);
    };
}

TAlertNotifier::~TAlertNotifier() {
    Service.OnActivated = nullptr;
    Service.OnClosed = nullptr;
}

QString TAlertNotifier::AlertText(const IAlertData& alert) {
    QStringList parts{alert.AlertSymbol()};
    // As the alert list shows it: no price is no text, not "0.00".
    if (alert.Price() > 0)
        parts << QString::number(alert.Price(), 'f', 2);
    if (!alert.Description().isEmpty())
        parts << alert.Description();
    return parts.join(QLatin1Char(' '));
}

QString TAlertNotifier::BurstText(const QString& symbol, int more) {
    return tr("%1 and %2 more").arg(symbol).arg(more);
}

void TAlertNotifier::AlertArrived(TAlertForm& window, const IAlertData& alert) {
    // Windows closed since: their notes go.
    Notes.erase(std::remove_if(Notes.begin(), Notes.end(),
                               [](const std::shared_ptr<TNote>& n) { return !n->Window; }),
                Notes.end());
    auto found = std::find_if(Notes.begin(), Notes.end(),
                              [&](const std::shared_ptr<TNote>& n) { return n->Window == &window; });
    std::shared_ptr<TNote> note;
    if (found != Notes.end()) {
        note = *found;
    } else {
        note = std::make_shared<TNote>();
        note->Window = &window;
        Notes.push_back(note);
    }
    const qint64 now = Clock();
    const bool showing = note->Id != 0 || note->InFlight;
    if (note->Count > 0 && showing && now - note->LastMs <= BurstMs) {
        ++note->Count;
    } else {
        note->Count = 1;
        note->Id = 0;
        ++note->Generation;
    }
    note->LastMs = now;
    note->Latest = TAlertData(alert.AlertSymbol(), alert.SkipFlag(), alert.AlertTime(),
                              alert.Price(), alert.Description());
    Send(note);
}

void TAlertNotifier::Send(const std::shared_ptr<TNote>& note) {
    if (note->InFlight) {
        note->Waiting = true;
        return;
    }
    TAlertForm* window = note->Window;
    if (!window)
        return;
    TDesktopNotification n;
    n.Summary = window->windowTitle();
    n.Body = note->Count > 1 ? BurstText(note->Latest.Symbol, note->Count - 1)
                             : AlertText(note->Latest);
    n.ReplacesId = note->Id;
    note->InFlight = true;
    ++CallsOut;
    const QPointer<TAlertNotifier> self = this;
    const std::weak_ptr<TNote> weak = note;
    const int generation = note->Generation;
    const TAlertData alert = note->Latest;
    Service.Notify(n, [self, weak, generation, alert](uint32_t id) {
        if (self)
            --self->CallsOut;
        const std::shared_ptr<TNote> note = weak.lock();
        if (!self || !note)
            return;
        note->InFlight = false;
        if (id != 0)
            self->Remember(id, note->Window, alert);
        if (generation == note->Generation)
            note->Id = id;
        // A click or an end the server reported before this answer named the id.
        if (id != 0)
            self->TakeEarly(id);
        if (note->Waiting) {
            note->Waiting = false;
            self->Send(note);
        }
    });
}

void TAlertNotifier::Remember(uint32_t id, TAlertForm* window, const TAlertData& alert) {
    Shown.removeIf([id](const TShown& s) { return s.Id == id; });
    Shown.append(TShown{id, window, alert});
    if (Shown.size() > MaxShown)
        Shown.removeFirst();
}

void TAlertNotifier::KeepEarly(uint32_t id, bool click) {
    const qint64 now = Clock();
    Early.removeIf([now](const TEarly& e) { return now - e.AtMs > EarlyMs; });
    Early.append(TEarly{id, click, now});
    if (Early.size() > MaxEarly)
        Early.removeFirst();
}

void TAlertNotifier::TakeEarly(uint32_t id) {
    // Taken in the order they came: a click, then the end the click brought.
    for (qsizetype i = 0; i < Early.size();) {
        if (Early[i].Id != id) {
            ++i;
            continue;
        }
        const bool click = Early[i].Click;
        Early.removeAt(i);
        if (click)
            Activated(id);
        else
            Closed(id);
    }
}

void TAlertNotifier::Activated(uint32_t id) {
    const auto shown = std::find_if(Shown.cbegin(), Shown.cend(),
                                    [id](const TShown& s) { return s.Id == id; });
    if (shown == Shown.cend()) {
        // Ours perhaps, before its answer came; else someone else's, or long gone.
        if (CallsOut > 0)
            KeepEarly(id, true);
        return;
    }
    const QPointer<TAlertForm> window = shown->Window;
    const TAlertData alert = shown->Alert;
    if (!window)
        return; // the window was closed since
    if (Windows)
        Windows->BringWindowForward(window, true);
    else
        window->show();
    if (window)
        window->ZentrikWindowX->SelectAlert(alert);
}

void TAlertNotifier::Closed(uint32_t id) {
    const bool known =
        std::any_of(Shown.cbegin(), Shown.cend(), [id](const TShown& s) { return s.Id == id; });
    if (!known && CallsOut > 0)
        KeepEarly(id, false);
    Shown.removeIf([id](const TShown& s) { return s.Id == id; });
    // The window's next alert starts a notification of its own.
    for (const std::shared_ptr<TNote>& note : Notes)
        if (note->Id == id) {
            note->Id = 0;
            note->Count = 0;
        }
}
