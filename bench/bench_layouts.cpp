// Figures for layouts of 100 alert windows, each beside a baseline measured in the same run:
//  (a) saving to a layout file (goal: at most 15 ms), beside one atomic write (QSaveFile) of
//      the same bytes;
//  (b) saving to the per-user store (goal: at most 10 ms), beside raw SQLite writing as many
//      rows in one transaction (WAL, synchronous NORMAL, as the store runs);
//  (c) reading the records and actions back from the file (cold: parse included) and from the
//      store (goal: at most 10 ms each), beside one raw parse of the file;
//  (d) the whole restore, with the windows created and shown, beside creating and showing
//      100 bare windows.
// (a) to (c) leave out the widget work (collecting the records from the windows), which is
// printed on its own. The client runs on its simulated alert service.
// Offscreen unless the first argument is --xvfb or --xvfb-openbox (a private X server, see
// zkBenchDisplay.h).
#include "alerts/zkAlertForm.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "platform/zkPrompts.h"
#include "shell/zkLayouts.h"
#include "shell/zkMainForm.h"
#include "zkBenchDisplay.h"
#include "zkBenchHome.h"
#include "zkBenchTiming.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using zkBenchTiming::Clock;
using zkBenchTiming::Line;
using zkBenchTiming::Ms;
constexpr int Windows = 100;
constexpr int Runs = 31;

double MedianMs(const std::function<void()>& fn, const std::function<void()>& before = {}) {
    return zkBenchTiming::MedianMs(Runs, fn, before);
}

// Raw SQLite doing the store's part of a layout save: one row per value, one transaction.
double RawSqliteMs(const QString& file, const TLayout& layout) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(file).constData(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE IF NOT EXISTS kv(k TEXT, n TEXT, v, PRIMARY KEY(k, n))",
                 nullptr, nullptr, nullptr);
    const int values = int(layout.Windows.size()) * 24 + 16;
    const double ms = MedianMs([&] {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* upsert = nullptr;
        sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO kv VALUES(?1, ?2, ?3)", -1, &upsert,
                           nullptr);
        for (int i = 0; i < values; ++i) {
            const QByteArray key = QByteArray("\\Software\\Velquist Client\\Settings\\Layout\\W") +
                                   QByteArray::number(i / 24);
            const QByteArray name = "Value" + QByteArray::number(i % 24);
            sqlite3_bind_text(upsert, 1, key.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(upsert, 2, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(upsert, 3, i);
            sqlite3_step(upsert);
            sqlite3_reset(upsert);
        }
        sqlite3_finalize(upsert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    });
    sqlite3_close(db);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (const int code = zkBenchDisplay::RunOnDisplay(argc, argv); code >= 0)
        return code;
    QTemporaryDir home, install;
    zkBenchHome::SetEnvironment(home);
    QApplication app(argc, argv);
    zkBenchHome::EnterInstallation(install);

    auto form = std::make_unique<TZentrikProMainForm>();
    form->show();
    for (int i = 0; i < Windows; ++i) {
        TAlertForm* w = form->NewAlertWindow();
        w->move(10 + i * 3, 10 + i * 2);
        w->WindowFileName = install.filePath(QStringLiteral("SavedWindows/W%1.zka").arg(i));
        w->SetActions({QStringLiteral("1,3"), QStringLiteral("1,4,List %1").arg(i % 7),
                       QStringLiteral("2,4,MAIN LIST")});
    }
    const QString file = install.filePath(QStringLiteral("SavedWindows/bench.zkl"));
    const TSettingsStore fileStore = TSettingsStore::IniFile(file);
    const TSettingsStore userStore = TSettingsStore::Registry();

    std::printf("layouts of %d alert windows, median of %d runs, on %s\n", Windows, Runs,
                qPrintable(QGuiApplication::platformName()));
    TLayout layout;
    const double collect = MedianMs([&] {
                               for (int i = 0; i < 100; ++i)
                                   layout = CollectLayout(*form);
                           }) /
                           100;
    Line("collect the records from the windows", collect, 0, "(widget work, apart)");

    // (a) the file, saved over itself as closing the client does.
    WriteLayout(fileStore, layout);
    const double toFile = MedianMs([&] { WriteLayout(fileStore, layout); });
    const QByteArray bytes = [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const double rawWrite = MedianMs([&] {
        QSaveFile f(install.filePath(QStringLiteral("raw.zkl")));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        f.commit();
    });
    Line("(a) save to a layout file", toFile, rawWrite, "of one QSaveFile write", 15);

    // (b) the per-user store.
    WriteLayout(userStore, layout);
    const double toStore = MedianMs([&] { WriteLayout(userStore, layout); });
    const double rawSql = RawSqliteMs(home.filePath(QStringLiteral("raw.sqlite3")), layout);
    Line("(b) save to the per-user store", toStore, rawSql, "of raw SQLite, one transaction", 10);

    // (c) reading back, records and actions.
    TLayout read;
    const double fromFile =
        MedianMs([&] { read = ReadLayout(fileStore); }, [] { zkIni::ClearCache(); });
    const double rawParse = MedianMs([&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const TIniDocument document = TIniDocument::Parse(f.readAll());
        (void)document;
    });
    Line("(c) read the layout file (cold)", fromFile, rawParse, "of one raw parse", 10);
    if (!(read == layout))
        std::printf("    the file read back differs from what was saved!\n");
    const double fromStore = MedianMs([&] { read = ReadLayout(userStore); });
    Line("(c) read the per-user store", fromStore, rawParse, "of one raw parse", 10);
    if (!(read == layout))
        std::printf("    the store read back differs from what was saved!\n");

    // The whole commands, widget work included.
    const double saveWhole = MedianMs([&] { SaveLayout(*form, file); });
    Line("SaveLayout(file), whole", saveWhole, toFile, "of (a)");

    // (d) the whole restore against 100 bare windows, each measured a few times.
    constexpr int RestoreRuns = 5;
    std::vector<double> restores, bares;
    for (int run = 0; run < RestoreRuns; ++run) {
        const auto start = Clock::now();
        LoadLayout(*form, file);
        QList<QWidget*> shown;
        for (TAlertForm* w : form->AlertWindows())
            shown << w;
        zkBenchHome::WaitExposed(shown);
        restores.push_back(Ms(Clock::now() - start));

        const auto bareStart = Clock::now();
        std::vector<std::unique_ptr<QWidget>> bare;
        QList<QWidget*> bareShown;
        for (int i = 0; i < Windows; ++i) {
            auto w = std::make_unique<QWidget>();
            w->setGeometry(20 + i, 20 + i, 675, 335);
            w->show();
            bareShown << w.get();
            bare.push_back(std::move(w));
        }
        zkBenchHome::WaitExposed(bareShown);
        bares.push_back(Ms(Clock::now() - bareStart));
    }
    std::sort(restores.begin(), restores.end());
    std::sort(bares.begin(), bares.end());
    Line("(d) LoadLayout(file), windows shown", restores[RestoreRuns / 2], bares[RestoreRuns / 2],
         "of 100 bare windows shown");
    std::printf("%-44s %8.3f ms\n", "    100 bare windows created and shown",
                bares[RestoreRuns / 2]);
    form.reset();
    return 0;
}
