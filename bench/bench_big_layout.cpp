// Figures for a desk of 5,000 alert windows, beside baselines measured in the same run:
//  (a) saving the layout to a file and reading it back cold, beside one raw parse of the file;
//  (b) the whole restore (LoadLayout: windows created, configured and shown; then the events
//      until all are exposed), its time and the memory it takes (growth of the resident set),
//      beside 5,000 bare windows of the same size;
//  (c) saving that desk back (SaveLayout, collecting from the windows), which must write all
//      5,000;
//  (d) a damaged "AlertCount" of two billion with three groups, which must cost no more than
//      the three windows;
//  (e) with the restored desk open, the window ring's rebuild (what every window opened
//      outside a layout runs), beside one call of Qt's list of top-level widgets, which goes
//      through every widget of the application.
// Windows are 320 x 200 so that 5,000 backing stores fit beside the other benchmarks; one
// single run each (a restore of 5,000 windows is not repeated). The client runs on its
// simulated alert service.
// Offscreen unless the first argument is --xvfb or --xvfb-openbox (a private X server, see
// zkBenchDisplay.h). Arguments after it: the number of windows (5,000), and optionally a
// smaller number, whose restore runs first so that the growth between the two sizes is printed.
#include "alerts/zkAlertForm.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "desktop/zkWindowRing.h"
#include "platform/zkApplication.h"
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
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using zkBenchTiming::Clock;
using zkBenchTiming::Ms;

// 5,000 unless the first argument says otherwise (to see how the figures grow).
int Windows = 5000;
// A smaller desk restored first, to measure the growth; none when 0.
int SmallerWindows = 0;

template <typename F> double TimeMs(F&& fn) {
    const auto start = Clock::now();
    fn();
    return Ms(Clock::now() - start);
}

// Resident set size in MiB.
double RssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

void Line(const char* what, double value, const char* unit, double base, const char* baseName) {
    std::printf("%-48s %10.1f %-3s", what, value, unit);
    if (base > 0)
        std::printf("  %6.2fx %s", value / base, baseName);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    if (const int code = zkBenchDisplay::RunOnDisplay(argc, argv); code >= 0)
        return code;
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures as they come, also into a pipe
    QTemporaryDir home, install;
    zkBenchHome::SetEnvironment(home);
    // As the client paints (src/app/main.cpp); the bare windows too, so both draw alike.
    PaintWithoutSharedImages();
    QApplication app(argc, argv);
    zkBenchHome::EnterInstallation(install);
    if (argc > 1 && QByteArray(argv[1]).toInt() > 0)
        Windows = QByteArray(argv[1]).toInt();
    if (argc > 2 && QByteArray(argv[2]).toInt() > 0)
        SmallerWindows = std::min(QByteArray(argv[2]).toInt(), Windows - 1);
    SetDefaultWindowRecord();

    TLayout desk;
    for (int i = 0; i < Windows; ++i) {
        TLayoutWindow w{DefaultWindowRecord(),
                        {QStringLiteral("1,3"), QStringLiteral("2,4,MAIN LIST")}};
        w.Record.Left = 10 + (i % 50) * 12;
        w.Record.Top = 10 + (i / 50) * 4;
        w.Record.Width = 320;
        w.Record.Height = 200;
        desk.Windows.push_back(std::move(w));
    }
    QDir().mkpath(install.filePath(QStringLiteral("SavedWindows")));
    const QString file = install.filePath(QStringLiteral("SavedWindows/big.zkl"));
    const TSettingsStore fileStore = TSettingsStore::IniFile(file);

    std::printf("a desk of %d alert windows, one run each, on %s\n", Windows,
                qPrintable(QGuiApplication::platformName()));
    const double save = TimeMs([&] { WriteLayout(fileStore, desk); });
    zkIni::ClearCache();
    TLayout read;
    const double readCold = TimeMs([&] { read = ReadLayout(fileStore); });
    const double rawParse = TimeMs([&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const TIniDocument document = TIniDocument::Parse(f.readAll());
        (void)document;
    });
    std::printf("layout file: %.1f MiB\n", QFileInfo(file).size() / 1048576.0);
    Line("(a) save the layout to a file", save, "ms", rawParse, "of one raw parse");
    Line("(a) read the layout file (cold)", readCold, "ms", rawParse, "of one raw parse");
    if (read.Windows.size() != size_t(Windows))
        std::printf("    only %zu windows read!\n", read.Windows.size());

    // (b) bare windows first, released again, so the restore does not start on their memory.
    // Each is timed in two parts: up to the last show() (what start-up waits for), then the
    // events that bring every window on screen.
    double bareMs = 0, bareExposeMs = 0, bareMiB = 0;
    bool bareExposed = false;
    {
        const double before = RssMiB();
        std::vector<std::unique_ptr<QWidget>> bare;
        QList<QWidget*> shown;
        bareMs = TimeMs([&] {
            for (int i = 0; i < Windows; ++i) {
                auto w = std::make_unique<QWidget>();
                w->setGeometry(10 + (i % 50) * 12, 10 + (i / 50) * 4, 320, 200);
                w->show();
                shown << w.get();
                bare.push_back(std::move(w));
            }
        });
        bareExposeMs = TimeMs([&] { bareExposed = zkBenchHome::WaitExposed(shown); });
        bareMiB = RssMiB() - before;
    }
    QCoreApplication::processEvents();

    auto form = std::make_unique<TZentrikProMainForm>();
    form->show();
    QCoreApplication::processEvents();

    // The smaller desk: the first windows of the same layout, restored and closed again.
    double smallRestore = 0, smallAll = 0;
    if (SmallerWindows > 0) {
        TLayout small = desk;
        small.Windows.resize(size_t(SmallerWindows));
        const QString smallFile = install.filePath(QStringLiteral("SavedWindows/small.zkl"));
        WriteLayout(TSettingsStore::IniFile(smallFile), small);
        smallRestore = TimeMs([&] { LoadLayout(*form, smallFile); });
        QList<QWidget*> smallShown;
        for (TAlertForm* w : form->AlertWindows())
            smallShown << w;
        smallAll = smallRestore + TimeMs([&] { zkBenchHome::WaitExposed(smallShown); });
        for (TAlertForm* w : form->AlertWindows())
            delete w;
        QCoreApplication::processEvents();
    }
    const double before = RssMiB();
    const double restore = TimeMs([&] { LoadLayout(*form, file); });
    const double restoreShownMiB = RssMiB() - before;
    QList<QWidget*> shown;
    for (TAlertForm* w : form->AlertWindows())
        shown << w;
    bool exposed = false;
    const double exposeMs = TimeMs([&] { exposed = zkBenchHome::WaitExposed(shown); });
    const double restoreMiB = RssMiB() - before;
    Line("(b) LoadLayout(file), up to the last show()", restore, "ms", bareMs,
         "of as many bare windows");
    Line("(b) then events until every window is exposed", exposeMs, "ms", bareExposeMs,
         "of as many bare windows");
    if (!exposed || !bareExposed)
        std::printf("    (not all exposed within the deadline: restored %d, bare %d)\n",
                    int(exposed), int(bareExposed));
    Line("(b) the restore in all, shown and exposed", restore + exposeMs, "ms",
         bareMs + bareExposeMs, "of as many bare windows");
    if (Windows == 5000)
        std::printf("    goal 10000 ms: %s\n", restore + exposeMs <= 10000 ? "met" : "MISSED");
    if (SmallerWindows > 0) {
        const double sizes = std::log(double(Windows) / SmallerWindows);
        std::printf("    %d windows: LoadLayout %.1f ms, in all %.1f ms; growth to %d: "
                    "LoadLayout n^%.2f, in all n^%.2f\n",
                    SmallerWindows, smallRestore, smallAll, Windows,
                    std::log(restore / smallRestore) / sizes,
                    std::log((restore + exposeMs) / smallAll) / sizes);
    }
    Line("(b) memory after LoadLayout returned", restoreShownMiB, "MiB", 0, "");
    Line("(b) memory after every window was exposed", restoreMiB, "MiB", bareMiB,
         "of as many bare windows");
    Line("    per window", restoreMiB * 1024 / Windows, "KiB", bareMiB * 1024 / Windows,
         "of a bare window");
    std::printf("%-48s %10.1f ms + %.1f ms, %.1f MiB\n", "    bare windows: shown + exposed",
                bareMs, bareExposeMs, bareMiB);
    std::printf("    windows open after the restore: %lld\n",
                static_cast<long long>(form->AlertWindows().size()));

    // (e) the ring's rebuild on the whole desk.
    const double rebuildMs = zkBenchTiming::MedianMs(21, [] { FormRing().Rebuild(); });
    const qsizetype ringSize = FormRing().Items.size();
    qsizetype walked = 0;
    const double walkMs =
        zkBenchTiming::MedianMs(21, [&] { walked = QApplication::topLevelWidgets().size(); });
    Line("(e) the window ring's rebuild, median of 21", rebuildMs * 1000, "us", walkMs * 1000,
         "of Qt's list of top-level widgets");
    std::printf("    ring of %lld windows; Qt's list: %lld windows out of %lld widgets\n",
                static_cast<long long>(ringSize), static_cast<long long>(walked),
                static_cast<long long>(QApplication::allWidgets().size()));

    // (c) saving the desk back.
    const QString back = install.filePath(QStringLiteral("SavedWindows/back.zkl"));
    const double saveBack = TimeMs([&] { SaveLayout(*form, back); });
    const int32_t count = ReadIntegerValue(TSettingsStore::IniFile(back), LayoutKeyPath(),
                                           QStringLiteral("AlertCount"), -1);
    Line("(c) SaveLayout(file) of the restored desk", saveBack, "ms", save,
         "of (a), without the windows");
    std::printf("    AlertCount written back: %d\n", int(count));
    form.reset();

    // (d) a damaged count.
    const QString damaged = install.filePath(QStringLiteral("SavedWindows/damaged.zkl"));
    QByteArray text = "[" + LayoutKeyPath().toUtf8() + "]\nAlertCount=2000000000\n";
    for (int i : {0, 17, 4242})
        text += "[" + LayoutAlertWindowPath(i).toUtf8() + "]\nWidth=300\n";
    {
        QFile f(damaged);
        f.open(QIODevice::WriteOnly);
        f.write(text);
    }
    TLayout few;
    const double damagedMs = TimeMs([&] { few = ReadLayout(TSettingsStore::IniFile(damaged)); });
    Line("(d) read AlertCount=2000000000 with 3 groups", damagedMs, "ms", readCold,
         "of reading the whole desk");
    std::printf("    windows read: %zu\n", few.Windows.size());
    return 0;
}
