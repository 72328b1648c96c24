// What one alert costs the alert list's repaint, in-process (offscreen): a shown list of
// 30 rows takes one alert at a time and repaints at once, as a quiet inbox window does. The
// cells drawn from text laid out when their row first showed, against the style laying out
// every cell at every paint (the baseline), alternating in blocks in the same run; then the
// same for a repaint with no new row (a window uncovered, the selection moved). Last, one alert
// in and the window painted as the event loop paints it, kept cells both: the rows already
// shown moved down the window's pixels and only the new one painted, against the whole list
// painted again (the baseline), alternating in blocks in the same run.
// Usage: bench_alert_paint [alerts per block, default 300] [blocks per path, default 6]
//                          [style|kept: only that path, for a profile]
#include "components/zkSimAlertWindow.h"
#include "components/zkSimService.h"

#include "zkBenchHome.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QHeaderView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QString Texts[] = {
    QStringLiteral("New high (+1.25%)"),
    QStringLiteral("Crossed above resistance (+0.84%) on rising volume, third test of the day"),
    QStringLiteral("NASDAQ:AAPL Crossing 189.50 On the 1h chart"),
    QStringLiteral("Volume spike (3.1x)"),
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    zkBenchHome::SetEnvironment(home);
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int perBlock = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    const int blocks = argc > 2 ? std::max(1, atoi(argv[2])) : 6;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    auto service = std::make_shared<TSimService>();
    service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("0"));
    TSimZentrikWindowX window(service);
    TSimAlertTable* view = window.View();
    auto* cells = dynamic_cast<TSimReadableCellDelegate*>(view->itemDelegate());
    const int rows = 30;
    view->resize(560, rows * view->verticalHeader()->defaultSectionSize());
    view->show();
    QCoreApplication::processEvents();
    int next = 0;
    auto add = [&] {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        window.AddExternalAlerts({TAlertData(QStringLiteral("S%1").arg(next % 5000), 0, now,
                                             10 + next % 97, Texts[next % 4])});
        ++next;
    };
    for (int i = 0; i < 200; ++i)
        add();

    using zkBenchTiming::Clock;
    using zkBenchTiming::Ms;
    // Per block: microseconds per (alert + repaint), and per repaint alone.
    std::vector<double> arrive[2], repaint[2];
    for (int b = 0; b < blocks * 2; ++b) {
        const bool cached = b % 2;
        if ((only == QLatin1String("style") && cached) ||
            (only == QLatin1String("kept") && !cached))
            continue;
        cells->SetCached(cached);
        view->viewport()->repaint(); // the first paint of a path lays out what it keeps
        auto start = Clock::now();
        for (int i = 0; i < perBlock; ++i) {
            add();
            view->viewport()->repaint();
        }
        arrive[cached].push_back(1000.0 * Ms(Clock::now() - start) / perBlock);
        start = Clock::now();
        for (int i = 0; i < perBlock; ++i)
            view->viewport()->repaint();
        repaint[cached].push_back(1000.0 * Ms(Clock::now() - start) / perBlock);
    }
    // Through the event loop: the view's layout, then the window's repaint of what changed.
    auto settle = [] {
        for (int i = 0; i < 2; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    };
    std::vector<double> shown[2];
    cells->SetCached(true);
    for (int b = 0; b < blocks * 2 && only.isEmpty(); ++b) {
        const bool moving = b % 2;
        view->SetMovingRows(moving);
        settle();
        const auto start = Clock::now();
        for (int i = 0; i < perBlock; ++i) {
            add();
            settle();
        }
        shown[moving].push_back(1000.0 * Ms(Clock::now() - start) / perBlock);
    }
    const double oldArrive = Median(arrive[0]), newArrive = Median(arrive[1]);
    const double oldRepaint = Median(repaint[0]), newRepaint = Median(repaint[1]);
    std::printf("alert list, %d rows shown, platform %s; medians of %d blocks of %d\n", rows,
                qPrintable(QGuiApplication::platformName()), blocks, perBlock);
    std::printf("%-46s %9s %9s %8s\n", "", "style", "kept", "ratio");
    std::printf("%-46s %7.1f us %7.1f us %7.2fx\n", "one alert in + repaint", oldArrive, newArrive,
                oldArrive / newArrive);
    std::printf("%-46s %7.1f us %7.1f us %7.2fx\n", "repaint, no new row", oldRepaint, newRepaint,
                oldRepaint / newRepaint);
    std::printf("%-46s %7.2f us %7.2f us\n", "repaint per row shown", oldRepaint / rows,
                newRepaint / rows);
    if (!shown[0].empty()) {
        const double whole = Median(shown[0]), moved = Median(shown[1]);
        std::printf("%-46s %9s %9s %8s\n", "", "whole", "moved", "ratio");
        std::printf("%-46s %7.1f us %7.1f us %7.2fx\n", "one alert in + the window's repaint",
                    whole, moved, whole / moved);
    }
    std::printf("cells kept: %lld\n", static_cast<long long>(cells->CachedCells()));
    return 0;
}
