// The alert history's searches on a big file: 10,000,000 alerts (--alerts N) of about 8,000
// symbols in 50 windows over 30 days, descriptions as the simulated service writes them. Times
// one symbol's alerts of one day, the history window's first page (200 rows) with each kind
// of filter, and the bytes an alert takes on disk. The baseline is the first page without a
// filter; the bytes are set against the alert's CSV line.
//
//   bench_history_query [--alerts N] [--file PATH]   (PATH: keep the file and reuse it)

#include "history/zkHistoryStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "zkBenchTiming.h"

using zkBenchTiming::Clock;
using zkBenchTiming::Line;
using zkBenchTiming::MedianMs;
using zkBenchTiming::Ms;

namespace {

constexpr int Symbols = 8000;
constexpr int Windows = 50;
constexpr qint64 DayMs = 86400000;
constexpr qint64 Days = 30;

const char* const Kinds[] = {"New high",
                             "New low",
                             "Running up now",
                             "Running down now",
                             "Crossed above VWAP",
                             "Crossed below VWAP",
                             "Gap up",
                             "Gap down",
                             "Crossed above resistance",
                             "Crossed below support",
                             "Bounce off the lows",
                             "Pullback from the highs",
                             "High relative volume",
                             "Volume spike"};

struct TWorld {
    std::vector<QString> SymbolNames;
    std::vector<QString> WindowNames;
    qint64 StartMs = 0;
};

TWorld MakeWorld() {
    TWorld world;
    std::mt19937 random(42);
    std::set<QString> seen;
    std::uniform_int_distribution<int> length(1, 5), letter(0, 25);
    while (int(world.SymbolNames.size()) < Symbols) {
        QString name;
        const int n = length(random) < 2 ? 2 : (length(random) % 4) + 1 + (length(random) > 3);
        for (int i = 0; i < n; ++i)
            name += QChar(u'A' + letter(random));
        if (seen.insert(name).second)
            world.SymbolNames.push_back(name);
    }
    const char* const Names[] = {"Gap ups",   "Gap downs", "Running up", "Running down",
                                 "New highs", "New lows",  "Breakouts",  "Volume"};
    for (int i = 0; i < Windows; ++i)
        world.WindowNames.push_back(
            QStringLiteral("%1 %2").arg(QLatin1String(Names[i % 8])).arg(i));
    world.StartMs = QDateTime::currentMSecsSinceEpoch() - Days * DayMs;
    return world;
}

void Build(THistoryStore& store, const TWorld& world, qint64 alerts) {
    std::mt19937 random(7);
    // Some symbols and windows are much busier than others.
    std::vector<double> symbolWeights, windowWeights;
    for (int i = 0; i < Symbols; ++i)
        symbolWeights.push_back(1.0 / std::pow(i + 1.0, 0.8));
    for (int i = 0; i < Windows; ++i)
        windowWeights.push_back(1.0 / (i + 1.0));
    std::discrete_distribution<int> symbol(symbolWeights.begin(), symbolWeights.end());
    std::discrete_distribution<int> window(windowWeights.begin(), windowWeights.end());
    std::uniform_int_distribution<int> kind(0, int(std::size(Kinds)) - 1);
    std::uniform_real_distribution<double> amount(0.2, 4.5), price(1, 500);
    const double step = double(Days * DayMs) / double(alerts);
    std::vector<THistoryAlert> batch;
    const auto start = Clock::now();
    for (qint64 i = 0; i < alerts;) {
        batch.clear();
        for (int j = 0; j < 10000 && i < alerts; ++j, ++i) {
            THistoryAlert a;
            a.TimeMs = world.StartMs + qint64(double(i) * step);
            a.Window = world.WindowNames[size_t(window(random))];
            a.Symbol = world.SymbolNames[size_t(symbol(random))];
            a.Price = std::round(price(random) * 100) / 100;
            const int k = kind(random);
            a.Description = k >= 12 ? QStringLiteral("%1 (%2x)")
                                          .arg(QLatin1String(Kinds[k]))
                                          .arg(1.5 + amount(random), 0, 'f', 1)
                                    : QStringLiteral("%1 (%2%3%)")
                                          .arg(QLatin1String(Kinds[k]), k % 2 ? "-" : "+")
                                          .arg(amount(random), 0, 'f', 2);
            a.Source = QStringLiteral("service");
            batch.push_back(std::move(a));
        }
        store.Append(batch);
        if (i % 1000000 == 0) {
            std::printf("  built %lld alerts (%.0f s)\n", static_cast<long long>(i),
                        Ms(Clock::now() - start) / 1000);
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 alerts = 10000000;
    QString path;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--alerts"))
            alerts = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--file"))
            path = args[i + 1];
    }
    QTemporaryDir dir;
    if (path.isEmpty())
        path = dir.path() + QStringLiteral("/history.sqlite3");
    const TWorld world = MakeWorld();
    {
        THistoryStore store(path, THistoryStore::TMode::ReadWrite);
        if (store.LastId() == 0) {
            std::printf("building a history of %lld alerts in %s\n", static_cast<long long>(alerts),
                        qPrintable(path));
            const auto start = Clock::now();
            Build(store, world, alerts);
            std::printf("  built in %.1f s\n", Ms(Clock::now() - start) / 1000);
        } else {
            std::printf("reusing %s\n", qPrintable(path));
        }
    } // closing the writer checkpoints the log into the file

    THistoryStore store(path, THistoryStore::TMode::ReadOnly);
    const qint64 stored = store.Count({});
    const qint64 lastMs = store.Page({}, std::nullopt, 1).front().TimeMs;
    std::printf("history: %lld alerts, %zu symbols, %zu windows\n", static_cast<long long>(stored),
                world.SymbolNames.size(), world.WindowNames.size());

    const auto page = [&](const THistoryFilter& f) {
        return MedianMs(5, [&] {
            if (store.Page(f, std::nullopt, 200).empty())
                std::printf("  (no rows)\n");
        });
    };
    const double base = page({});
    Line("first page, no filter", base, base, "(baseline)", 100);

    // One symbol's alerts of one day: a busy, a middling and a quiet symbol.
    for (int rank : {0, 100, 3000}) {
        THistoryFilter f;
        f.SymbolPrefix = world.SymbolNames[size_t(rank)];
        f.FromMs = lastMs - 10 * DayMs;
        f.ToMs = *f.FromMs + DayMs - 1;
        qint64 rows = 0;
        const double ms = MedianMs(5, [&] {
            rows = 0;
            store.ForEach(f, [&](const THistoryAlert&) {
                ++rows;
                return true;
            });
        });
        char what[96];
        std::snprintf(what, sizeof what, "one symbol, one day (%s, %lld rows)",
                      qPrintable(f.SymbolPrefix), static_cast<long long>(rows));
        Line(what, ms, base, "x first page", 50);
    }

    const auto filtered = [&](const char* what, THistoryFilter f) {
        Line(what, page(f), base, "x first page", 100);
    };
    THistoryFilter f;
    for (const char* prefix : {"A", "Q", "Z"}) {
        f = {};
        f.SymbolPrefix = QString::fromLatin1(prefix).toLower();
        filtered(qPrintable(QStringLiteral("first page, symbol \"%1\"").arg(f.SymbolPrefix)), f);
    }
    for (int rank : {5, 500, 5000}) {
        f = {};
        f.SymbolPrefix = world.SymbolNames[size_t(rank)].left(3);
        filtered(qPrintable(QStringLiteral("first page, symbol \"%1\"").arg(f.SymbolPrefix)), f);
    }
    for (int w : {0, 49}) {
        f = {};
        f.Window = world.WindowNames[size_t(w)];
        filtered(qPrintable(QStringLiteral("first page, window \"%1\"").arg(*f.Window)), f);
        f.SymbolPrefix = world.SymbolNames[10].left(1);
        filtered(
            qPrintable(QStringLiteral("first page, window + symbol \"%1\"").arg(f.SymbolPrefix)),
            f);
        f.SymbolPrefix = world.SymbolNames[2000];
        filtered(
            qPrintable(QStringLiteral("first page, window + symbol \"%1\"").arg(f.SymbolPrefix)),
            f);
    }
    f = {};
    f.FromMs = lastMs - 20 * DayMs;
    f.ToMs = lastMs - 19 * DayMs;
    filtered("first page, one day 20 days back", f);
    f.SymbolPrefix = QStringLiteral("b");
    filtered("first page, that day + symbol \"b\"", f);

    // Bytes on disk.
    qint64 bytes = 0;
    for (const char* suffix : {"", "-wal"})
        bytes += QFileInfo(path + QLatin1String(suffix)).size();
    qint64 csv = 0, sampled = 0;
    store.ForEach({}, [&](const THistoryAlert& a) {
        csv += HistoryCsvLine(a).size();
        return ++sampled < 100000;
    });
    const double perAlert = double(bytes) / double(stored);
    const double csvPerAlert = double(csv) / double(sampled);
    std::printf("%-44s %8.1f B    %6.2fx %-30s goal 150 B: %s\n", "bytes per alert on disk",
                perAlert, perAlert / csvPerAlert, "x its CSV line",
                perAlert <= 150 ? "met" : "MISSED");
    return 0;
}
