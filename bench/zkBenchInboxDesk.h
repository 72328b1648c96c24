#pragma once

// The desk the outside-alert benchmarks feed: a main window on the simulated service with
// inbox alert windows for the strategies "W0", "W1", ..., each with a "bring forward" action,
// shown and exposed; and the wait until a sender's alerts are all in.

#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "hub/zkAlertRouter.h"
#include "shell/zkMainForm.h"

#include "zkBenchHome.h"
#include "zkBenchHttp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace zkBenchInboxDesk {

// The main window, or nullptr (said on stdout) when the windows did not show. onRow is called
// with each alert once its row is in its window.
inline TZentrikProMainForm* Open(int windows, const std::function<void(IAlertData*)>& onRow) {
    auto* main = new TZentrikProMainForm;
    main->show();
    QList<QWidget*> shown{main};
    for (int i = 0; i < windows; ++i) {
        TAlertForm* w = main->NewAlertWindow();
        w->ZentrikWindowX->SetDataConfig(InboxDataConfig(QStringLiteral("W%1").arg(i)));
        w->SetActions({QStringLiteral("1,3")});
        QObject::connect(w->ZentrikWindowX, &TZentrikWindowX::OnNewAlert,
                         [onRow](QObject*, IAlertData* alert) { onRow(alert); });
        shown << w;
    }
    if (zkBenchHome::WaitExposed(shown))
        return main;
    std::printf("the windows did not show\n");
    delete main;
    return nullptr;
}

// On a sender's thread: until `in` reaches total, or nothing has come for 10 s.
inline void WaitAllIn(const std::atomic<long long>& in, long long total) {
    long long seen = -1;
    long long quietSince = zkBenchHttp::NowNs();
    while (in.load() < total && zkBenchHttp::NowNs() - quietSince < 10000000000LL) {
        if (in.load() != seen) {
            seen = in.load();
            quietSince = zkBenchHttp::NowNs();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace zkBenchInboxDesk
