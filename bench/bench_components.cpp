// How fast the simulated alert list takes alerts in, with and without a view painting it.
// Prints microseconds per alert and ratios against a bare bounded container measured in the
// same run.

#include "components/zkComponentWrappers.h"
#include "components/zkSimAlertModel.h"
#include "components/zkSimAlertWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <cstdio>
#include <deque>

namespace {

constexpr int Alerts = 60000;

std::vector<std::shared_ptr<TSimAlert>> MakeAlerts(int count) {
    std::vector<std::shared_ptr<TSimAlert>> alerts;
    alerts.reserve(size_t(count));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < count; ++i)
        alerts.push_back(std::make_shared<TSimAlert>(QStringLiteral("SYM%1").arg(i % 100), 0, now,
                                                     100.0 + i % 50,
                                                     QStringLiteral("Running up now (+1.2%)")));
    return alerts;
}

double Baseline(const std::vector<std::shared_ptr<TSimAlert>>& alerts) {
    QElapsedTimer clock;
    clock.start();
    std::deque<std::shared_ptr<TSimAlert>> rows;
    for (const auto& alert : alerts) {
        rows.push_front(alert);
        if (rows.size() > size_t(TSimAlertModel::DefaultMaxRows))
            rows.pop_back();
    }
    return double(clock.nsecsElapsed()) / 1000.0 / double(alerts.size());
}

double ModelOnly(const std::vector<std::shared_ptr<TSimAlert>>& alerts, size_t batch) {
    TSimAlertModel model;
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < alerts.size(); i += batch)
        model.AddAlerts(
            {alerts.begin() + long(i), alerts.begin() + long(std::min(alerts.size(), i + batch))});
    return double(clock.nsecsElapsed()) / 1000.0 / double(alerts.size());
}

// The whole alert component on screen; each batch is laid out and painted before the next.
double Painted(const std::vector<std::shared_ptr<TSimAlert>>& alerts, size_t batch, size_t count) {
    TZentrikWindowX window;
    window.resize(452, 446);
    window.show();
    auto* sim = qobject_cast<TSimZentrikWindowX*>(window.Component());
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < count; i += batch) {
        sim->Model()->AddAlerts(
            {alerts.begin() + long(i), alerts.begin() + long(std::min(count, i + batch))});
        sim->View()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    return double(clock.nsecsElapsed()) / 1000.0 / double(count);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::vector<std::shared_ptr<TSimAlert>> alerts = MakeAlerts(Alerts);

    const double base = Baseline(alerts);
    std::printf("alert list intake, %d alerts, bound %d rows\n", Alerts,
                TSimAlertModel::DefaultMaxRows);
    std::printf("  %-34s %8.3f us/alert  (baseline)\n", "bounded deque", base);
    for (size_t batch : {size_t(1), size_t(10), size_t(100)}) {
        const double t = ModelOnly(alerts, batch);
        std::printf("  model, batches of %-16zu %8.3f us/alert  x%.1f\n", batch, t, t / base);
    }
    const size_t painted = 6000;
    const double one = Painted(alerts, 1, painted);
    std::printf("  %-34s %8.3f us/alert  x%.1f\n", "on screen, batches of 1", one, one / base);
    for (size_t batch : {size_t(10), size_t(50)}) {
        const double t = Painted(alerts, batch, painted);
        std::printf("  on screen, batches of %-12zu %8.3f us/alert  x%.1f  (%.1fx faster than 1)\n",
                    batch, t, t / base, one / t);
    }
    return 0;
}
