// Figures for the symbol lists, each beside a baseline measured in the same run:
//  (a) a refresh of 200 lists of 2,000 symbols each from the simulated service with its delays
//      set to 0, from the click until the window shows them (goal: at most 300 ms), beside
//      filling the same 200 display lines into a bare QListWidget; once with each list in
//      ascending order on the server and once shuffled;
//  (b) NormalizeSymbols of 100,000 lines in the editor (goal: at most 200 ms) and the model's
//      part of it alone, beside a plain case-sensitive sort of the same lines;
//  (c) adding one symbol to 50 selected lists of 5,000 symbols each, with every rebuild of the
//      window (goal: at most 50 ms), beside rebuilding a bare QListWidget of 50 lines 50
//      times. No server is connected here: its writes are the service's cost, not the client's;
//  (d) the editor loading a file of 1,000,000 lines and one of a single 1 MB line.
#include "components/zkComponents.h"
#include "components/zkSimService.h"
#include "platform/zkPrompts.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>

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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toLocal8Bit());
    QApplication app(argc, argv);
    QDir::setCurrent(home.path());
    zkPrompts::SetScripted(true);

    // (a) Refresh from the simulated service.
    const QString serviceFile = home.path() + "/data/velquist/service/demo.json";
    for (bool shuffled : {false, true}) {
        WriteServiceFile(serviceFile, shuffled);
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        for (const char* p : {"SimListDelay", "SimFetchDelay", "SimConnectDelay"})
            connection->SetPropertyByName(QString::fromLatin1(p), QStringLiteral("0"));
        connection->SetUserName(QStringLiteral("DEMO"));
        Until([&] { return connection->ConnectionStatus() == 1; });
        StartSymbolListDispatcher(connection.get());
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
    const double normalizeMs = MedianMs(
        5, [&] { editor.NormalizeSymbols(); }, [&] { editor.SetMemoLines(lines); });
    const double modelMs = MedianMs(5, [&] { NormalizeSymbolLines(lines); });
    const double sortMs = MedianMs(5, [&] {
        QStringList copy = lines;
        copy.sort();
    });
    std::printf("NormalizeSymbols of 100,000 lines, median of 5 runs\n");
    Line("NormalizeSymbols in the editor", normalizeMs, sortMs, "(plain sort of the lines)", 200);
    Line("the model's part (rule, sort, duplicates)", modelMs, sortMs, "(plain sort of the lines)");

    // (c) One symbol into 50 selected lists of 5,000, every rebuild included.
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

    // (d) Bad input: what Load From File costs for a huge file and for one very long line.
    std::printf("editor, Load From File, median of 3 runs\n");
    struct {
        const char* What;
        QByteArray Bytes;
    } files[] = {{"1,000,000 lines", QByteArray()}, {"one line of 1 MB", QByteArray(1 << 20, 'x')}};
    for (int i = 0; i < 1000000; ++i)
        files[0].Bytes += "SYM" + QByteArray::number(i) + "\r\n";
    for (const auto& file : files) {
        const QString name = home.path() + "/big.txt";
        QFile out(name);
        out.open(QIODevice::WriteOnly);
        out.write(file.Bytes);
        out.close();
        const double loadMs = MedianMs(3, [&] {
            zkPrompts::SetNextFileName(name);
            editor.LoadFromFileButtonClick();
            QCoreApplication::processEvents();
        });
        const double readMs = MedianMs(3, [&] {
            QFile in(name);
            in.open(QIODevice::ReadOnly);
            in.readAll();
        });
        Line(file.What, loadMs, readMs, "(reading the file's bytes)");
    }
    return 0;
}
