// Figures for the symbol lists, each beside a baseline measured in the same run:
//  (a) a refresh of 200 lists of 2,000 symbols each from the simulated service with its delays
//      set to 0, from the click until the window shows them (goal: at most 300 ms), beside
//      filling the same 200 display lines into a bare QListWidget; once with each list in
//      ascending order on the server and once shuffled;
//  (b) the model's part of NormalizeSymbols of 100,000 lines, beside a plain case-sensitive
//      sort of the same lines;
//  (c) adding one symbol to 50 selected lists of 5,000 symbols each, with every rebuild of the
//      window (goal: at most 50 ms), beside rebuilding a bare QListWidget of 50 lines 50
//      times. No server is connected here: its writes are the service's cost, not the client's;
//  (d) the editor loading a file of 1,000,000 lines and one of a single 1 MB line, inserting
//      the file of a million lines and NormalizeSymbols of 100,000 lines, each with the
//      longest stall of the event loop (goals: no stall over 100 ms; NormalizeSymbols done in
//      100 ms), and beside each the same text set in one call into a bare text box;
//  (e) OK in the editor on a list of 951,938 symbols, until the simulated server has written
//      it (goals: done in 2 s, no stall over 100 ms).
#include "components/zkComponents.h"
#include "components/zkSimService.h"
#include "components/zkSimSymbolLists.h"
#include "platform/zkMemory.h"
#include "platform/zkPrompts.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using zkBenchTiming::Line;
using zkBenchTiming::MedianMs;

QStringList Symbols(int count, int seed, bool shuffled) {
    QStringList symbols;
    for (int i = 0; i < count; ++i)
        symbols << QStringLiteral("S%1X%2").arg(i, 5, 10, QLatin1Char('0')).arg(seed);
    if (shuffled)
        std::shuffle(symbols.begin(), symbols.end(), *QRandomGenerator::global());
    return symbols;
}

void WriteServiceFile(const QString& file, bool shuffled) {
    QJsonArray lists;
    for (int i = 0; i < 200; ++i) {
        QJsonObject o;
        o.insert("id", i + 1);
        o.insert("name", QStringLiteral("List %1").arg(i + 1));
        o.insert("symbols", QJsonArray::fromStringList(Symbols(2000, i, shuffled)));
        lists.append(o);
    }
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(QJsonDocument(QJsonObject{{"lists", lists}}).toJson());
}

// Handles events until the condition holds.
void Until(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Whether the editor still has work running (an editor without such work never has).
// DEMO on the simulated service with its delays set to 0, connected, its lists dispatched.
std::unique_ptr<IConnectionControl> ConnectDemo() {
    std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
    for (const char* p : {"SimListDelay", "SimFetchDelay", "SimConnectDelay"})
        connection->SetPropertyByName(QString::fromLatin1(p), QStringLiteral("0"));
    connection->SetUserName(QStringLiteral("DEMO"));
    Until([&] { return connection->ConnectionStatus() == 1; });
    StartSymbolListDispatcher(connection.get());
    return connection;
}

template <typename T> bool EditorBusy(const T& editor) {
    if constexpr (requires { editor.Busy(); })
        return editor.Busy();
    else
        return false;
}

// Time to done and the longest gap between the ticks of a 10 ms timer meanwhile: how long the
// event loop could not run (10 ms when it never stalled).
struct TTimed {
    double Ms = 0;
    double StallMs = 0;
};

TTimed Timed(int runs, const std::function<void()>& start, const std::function<bool()>& done,
             const std::function<void()>& before = {}) {
    std::vector<TTimed> results;
    for (int i = 0; i < runs; ++i) {
        if (before)
            before();
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(10);
        auto tick = [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        };
        QObject::connect(&ticker, &QTimer::timeout, tick);
        clock.start();
        ticker.start();
        start();
        Until(done);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        tick();
        results.push_back({ms, double(longest) / 1e6});
    }
    std::sort(results.begin(), results.end(),
              [](const TTimed& a, const TTimed& b) { return a.Ms < b.Ms; });
    TTimed median = results[results.size() / 2];
    for (const TTimed& r : results)
        median.StallMs = std::max(median.StallMs, r.StallMs); // the worst of the runs
    return median;
}

// `before`: the figures of the editor that filled its text box on the user-interface thread
// (in parts of 50,000 lines with painting in between) and sent and saved the list there, as
// measured with this benchmark on the same machine (RelWithDebInfo, 2 cores, another build
// running).
void Report(const char* what, const TTimed& t, double baseMs, const char* base, TTimed before,
            double goal = 0) {
    Line(what, t.Ms, baseMs, base, goal);
    std::printf("  longest stall %8.1f ms%s\n", t.StallMs,
                t.StallMs <= 100 ? "   goal 100 ms: met" : "   goal 100 ms: MISSED");
    std::printf("  before: %.0f ms, longest stall %.0f ms\n", before.Ms, before.StallMs);
    std::fflush(stdout);
}

// The toolkit's own floor for the editor's rows: the same text set in one call into a bare,
// shown text box of the same kind, size, font and wrapping (the event loop is stalled all that
// time).
double PlainTextFloorMs(const QString& text, const QPlainTextEdit* like) {
    QPlainTextEdit bare;
    bare.resize(like->size());
    bare.setLineWrapMode(like->lineWrapMode());
    bare.setWordWrapMode(like->wordWrapMode());
    bare.setFont(like->font());
    bare.show();
    return MedianMs(3, [&] {
        bare.setPlainText(text);
        bare.repaint();
    });
}

void ReportFloor(double ms, double floorMs) {
    std::printf("  the text box's own floor: %.0f ms to set the same text in one call; the "
                "editor takes %.2fx that\n",
                floorMs, ms / floorMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    zkMemory::SetAllocatorThresholds(); // as the client does first thing
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toLocal8Bit());
    QApplication app(argc, argv);
    QDir::setCurrent(home.path());
    zkPrompts::SetScripted(true);

    // One part alone: bench_symbol_lists a|c|d|e (b is always measured).
    const QByteArray only = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    auto part = [&](const char* name) { return only.isEmpty() || only == name; };

    // (a) Refresh from the simulated service.
    const QString serviceFile = home.path() + "/data/velquist/service/demo.json";
    for (bool shuffled : {false, true}) {
        if (!part("a"))
            break;
        WriteServiceFile(serviceFile, shuffled);
        std::unique_ptr<IConnectionControl> connection = ConnectDemo();
        auto form = std::make_unique<TSymbolListsForm>(nullptr);
        form->show();
        const double refreshMs = MedianMs(9, [&] {
            form->RefreshFromServerButtonClick();
            Until([&] {
                return !form->Listener->Refreshing && form->SymbolListsListBox->count() == 200;
            });
            form->SymbolListsListBox->repaint();
        });
        // The window's part alone: taking over the model and showing it.
        const double windowMs = MedianMs(9, [&] { SymbolListController()->ListsChanged(true); });
        QStringList lines;
        FillSymbolListItems(form->Listener->Snapshot, lines);
        QListWidget bare;
        bare.show();
        const double bareMs = MedianMs(9, [&] {
            bare.clear();
            bare.addItems(lines);
            bare.repaint();
        });
        std::printf("refresh of 200 lists x 2000 symbols, delays 0, median of 9 runs\n");
        Line(shuffled ? "refresh, server order shuffled" : "refresh, server order ascending",
             refreshMs, bareMs, "(200 lines into a bare QListWidget)", 300);
        Line("  of which the window's part", windowMs, bareMs,
             "(200 lines into a bare QListWidget)");
        form.reset();
        StopSymbolListDispatcher();
        connection.reset();
        TSimService::ResetInstance(); // the next pass reads its own file
    }

    // (b) NormalizeSymbols.
    QStringList lines;
    for (const QString& s : Symbols(100000, 7, true))
        lines << QStringLiteral(" %1 ").arg(s.toLower());
    TSymbolListEditorForm editor;
    const double modelMs = MedianMs(5, [&] { NormalizeSymbolLines(lines); });
    const double sortMs = MedianMs(5, [&] {
        QStringList copy = lines;
        copy.sort();
    });
    std::printf(
        "NormalizeSymbols of 100,000 lines (the editor's figure is under (d)), median of 5 runs\n");
    Line("the model's part (rule, sort, duplicates)", modelMs, sortMs, "(plain sort of the lines)");

    // (c) One symbol into 50 selected lists of 5,000, every rebuild included.
    if (part("c")) {
        StartSymbolListDispatcher(nullptr);
        auto form = std::make_unique<TSymbolListsForm>(nullptr);
        form->show();
        auto fill = [&] {
            ClearSymbolLists(SymbolListModel());
            for (int i = 0; i < 50; ++i) {
                auto list = std::make_unique<TSymbolList>();
                list->ListId = i + 1;
                list->Name = QStringLiteral("List %1").arg(i + 1);
                list->Symbols.Assign(Symbols(5000, i, false));
                SymbolListModel()->push_back(std::move(list));
            }
            SymbolListController()->ListsChanged(true);
            form->SymbolListsListBox->selectAll();
        };
        const double addMs = MedianMs(
            11,
            [&] {
                form->SymbolEdit->setText(QStringLiteral("s01234xnew"));
                form->AddButtonClick();
                form->SymbolListsListBox->repaint();
            },
            fill);
        QStringList names;
        FillSymbolListItems(*SymbolListModel(), names);
        QListWidget bare;
        bare.show();
        const double bareMs = MedianMs(11, [&] {
            for (int i = 0; i < 50; ++i) {
                bare.clear();
                bare.addItems(names);
            }
            bare.repaint();
        });
        std::printf("one symbol into 50 selected lists of 5,000 symbols, median of 11 runs\n");
        Line("add symbol, 50 rebuilds of the window", addMs, bareMs, "(50 rebuilds of a bare list)",
             50);
        form.reset();
        StopSymbolListDispatcher();
    }

    // (d) The editor on a million lines: time to done and the longest stall of the event loop,
    // beside reading the file's bytes. BEFORE: the figures of the editor that filled its text
    // box in one go (or in parts of 50,000 lines, painting only in between).
    if (part("d")) {
        std::printf("editor on a million lines, median of 3 runs (longest event-loop stall)\n");
        struct {
            const char* What;
            QByteArray Bytes;
            TTimed Before;
        } files[] = {{"1,000,000 lines", QByteArray(), {4262.8, 384.3}},
                     {"one line of 1 MB", QByteArray(1 << 20, 'x'), {926.5, 945.5}}};
        for (int i = 0; i < 1000000; ++i)
            files[0].Bytes += "SYM" + QByteArray::number(i) + "\r\n";
        const QString bigName = home.path() + "/big.txt";
        for (const auto& file : files) {
            QFile out(bigName);
            out.open(QIODevice::WriteOnly);
            out.write(file.Bytes);
            out.close();
            const TTimed load = Timed(
                3,
                [&] {
                    zkPrompts::SetNextFileName(bigName);
                    editor.LoadFromFileButtonClick();
                },
                [&] { return !EditorBusy(editor); });
            const double readMs = MedianMs(3, [&] {
                QFile in(bigName);
                in.open(QIODevice::ReadOnly);
                in.readAll();
            });
            Report((std::string("Load From File, ") + file.What).c_str(), load, readMs,
                   "(reading the file's bytes)", file.Before);
            ReportFloor(load.Ms,
                        PlainTextFloorMs(QString::fromLatin1(file.Bytes)
                                             .replace(QLatin1String("\r\n"), QLatin1String("\n")),
                                         editor.SymbolsMemo));
        }
        {
            QFile out(bigName);
            out.open(QIODevice::WriteOnly);
            out.write(files[0].Bytes);
        }
        const TTimed insert = Timed(
            3,
            [&] {
                zkPrompts::SetNextFileName(bigName);
                editor.InsertFromFileButtonClick();
            },
            [&] { return !EditorBusy(editor); },
            [&] {
                editor.SetMemoLines({QStringLiteral("AAPL"), QStringLiteral("MSFT")});
                Until([&] { return !EditorBusy(editor); });
            });
        const double readMs = MedianMs(3, [&] {
            QFile in(bigName);
            in.open(QIODevice::ReadOnly);
            in.readAll();
        });
        Report("Insert From File, 1,000,000 lines", insert, readMs, "(reading the file's bytes)",
               {5008.9, 886.1});
        ReportFloor(insert.Ms,
                    PlainTextFloorMs(QStringLiteral("AAPL\nMSFT\n") +
                                         QString::fromLatin1(files[0].Bytes)
                                             .replace(QLatin1String("\r\n"), QLatin1String("\n")),
                                     editor.SymbolsMemo));
        const TTimed normalize = Timed(
            3, [&] { editor.NormalizeSymbols(); }, [&] { return !EditorBusy(editor); },
            [&] {
                editor.SetMemoLines(lines);
                Until([&] { return !EditorBusy(editor); });
            });
        Report("NormalizeSymbols, 100,000 lines", normalize, sortMs, "(plain sort of the lines)",
               {461.4, 274.4}, 100);
        ReportFloor(normalize.Ms,
                    PlainTextFloorMs(NormalizeSymbolLines(lines).join(u'\n'), editor.SymbolsMemo));
    }

    // (e) OK on a list of 951,938 symbols, the simulated server's write included.
    if (part("e")) {
        const int count = 951938;
        QJsonArray symbols;
        for (int i = 0; i < count; ++i)
            symbols.append(QStringLiteral("S%1").arg(i, 7, 10, QLatin1Char('0')));
        QJsonArray lists;
        lists.append(QJsonObject{{"id", 1}, {"name", "Huge"}, {"symbols", symbols}});
        lists.append(QJsonObject{{"id", 2}, {"name", "Small"}, {"symbols", QJsonArray{"IBM"}}});
        QDir().mkpath(QFileInfo(serviceFile).absolutePath());
        QFile f(serviceFile);
        f.open(QIODevice::WriteOnly);
        f.write(QJsonDocument(QJsonObject{{"lists", lists}}).toJson());
        f.close();
        std::unique_ptr<IConnectionControl> connection = ConnectDemo();
        auto lists_form = std::make_unique<TSymbolListsForm>(nullptr);
        lists_form->show();
        lists_form->RefreshFromServerButtonClick();
        Until([&] { return !lists_form->Listener->Refreshing; });
        lists_form->SymbolListsListBox->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        if (!lists_form->SelectedList() || lists_form->SelectedList()->Symbols.Count() != count) {
            std::printf("the list of %d symbols did not arrive\n", count);
            return 1;
        }
        const QStringList symbolsNow = lists_form->SelectedList()->Symbols.Strings();
        const double bareMs = MedianMs(3, [&] {
            QStringList copy = symbolsNow;
            copy.sort();
        });
        const TTimed ok = Timed(
            3, [&] { editor.OKButtonClick(); },
            [&] { return !EditorBusy(editor) && !SimListWritesPending(); },
            [&] {
                lists_form->SymbolListsListBox->setCurrentRow(0,
                                                              QItemSelectionModel::ClearAndSelect);
                editor.OpenForList(*lists_form->SelectedList(), lists_form.get());
                Until([&] { return !EditorBusy(editor); });
            });
        std::printf("  the model's list now holds %lld symbols\n",
                    (long long)(*SymbolListModel())[0]->Symbols.Count());
        Report("OK on 951,938 symbols, server write included", ok, bareMs,
               "(plain sort of the symbols)", {7831.6, 2739.6}, 2000);
        lists_form.reset();
        StopSymbolListDispatcher();
        connection.reset();
        TSimService::ResetInstance();
    }
    return 0;
}
