#include "alerts/zkActions.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "components/zkSimFactory.h"
#include "config/zkIniFile.h"
#include "config/zkLayoutSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "history/zkAlertHistoryForm.h"
#include "hub/zkAlertHub.h"
#include "hub/zkAlertRouter.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "shell/zkLayouts.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

namespace {

const QByteArray P = "\\Software\\Velquist Client\\Settings\\Layout";

// Stops even root from replacing the file.
bool setImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

TFakeZentrikWindowX& fake(TAlertForm* w) {
    return *static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component());
}

int32_t alertCount(const TSettingsStore& store) {
    return ReadIntegerValue(store, LayoutKeyPath(), "AlertCount", -1);
}

int messages() {
    int n = 0;
    for (const zkPrompts::TPromptRecord& r : zkPrompts::Shown())
        n += r.Kind == "message";
    return n;
}

} // namespace

class TLayoutsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<QTemporaryDir> Install;
    QString OldCwd;
    std::shared_ptr<TFakeComponentFactory> Factory;
    std::unique_ptr<TScopedComponentFactory> Scope;
    std::unique_ptr<TZentrikProMainForm> Form;

    QString path(const QString& name) const { return Install->filePath(name); }
    QString saved(const QString& name) const { return path("SavedWindows/" + name); }
    TZentrikProMainForm& form() {
        if (!Form) {
            Form = std::make_unique<TZentrikProMainForm>();
            Form->show();
        }
        return *Form;
    }
    QStringList fileNames() {
        QStringList names;
        for (TAlertForm* w : form().AlertWindows())
            names << QFileInfo(w->WindowFileName).fileName();
        return names;
    }
    void storeLayoutChoices(bool loadOnStart, const QString& loadName) {
        const TSettingsStore r = TSettingsStore::Registry();
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteBoolValue(r, key, "LoadOnStart", loadOnStart);
        WriteStringValue(r, key, "LoadLayoutName", loadName);
    }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        TUserStore::ResetInstance();
        Install = std::make_unique<QTemporaryDir>();
        OldCwd = QDir::currentPath();
        QDir::setCurrent(Install->path());
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        Factory = std::make_shared<TFakeComponentFactory>();
        Scope = std::make_unique<TScopedComponentFactory>(Factory);
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteStringValue(TSettingsStore::Registry(), key, "UserName", "DEMO");
    }
    void cleanup() {
        Form.reset();
        Scope.reset();
        Factory.reset();
        QDir::setCurrent(OldCwd);
        Install.reset();
        zkIni::ClearCache();
        TUserStore::ResetInstance();
        Home.reset();
    }

    void layoutChoices() {
        TLayoutSettings s;
        SetLayoutDefaults(s);
        const QString builtIn = path("SavedWindows/DEFAULT_LAYOUT.zkl");
        QCOMPARE(s.SaveOnExit, 2);
        QCOMPARE(s.SaveLayoutName, builtIn);
        QVERIFY(s.LoadOnStart);
        QCOMPARE(s.LoadLayoutName, builtIn);

        // Wrongly typed values read as the defaults; written ones come back with their kinds.
        const TSettingsStore r = TSettingsStore::Registry();
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteStringValue(r, key, "SaveOnExit", "0");
        WriteIntegerValue(r, key, "LoadLayoutName", 5);
        TLayoutSettings read;
        ReadLayoutSettings(read, s);
        QCOMPARE(read.SaveOnExit, 2);
        QCOMPARE(read.LoadLayoutName, builtIn);
        const TLayoutSettings written{1, QString(), false, "/x/y.zkl"};
        WriteLayoutSettings(written);
        ReadLayoutSettings(read, s);
        QCOMPARE(read.SaveOnExit, 1);
        QCOMPARE(read.SaveLayoutName, QString());
        QVERIFY(!read.LoadOnStart);
        QCOMPARE(read.LoadLayoutName, QString("/x/y.zkl"));
        // Another installation's layout files (a build folder run once, deleted since or not)
        // read as the same files in ours; the user's own places stay, present or not, also a
        // folder of theirs named SavedWindows where no client is installed.
        QTemporaryDir other;
        QVERIFY(QDir().mkpath(other.path() + "/SavedWindows"));
        WriteTextFile(other.path() + "/velquist", "");
        QTemporaryDir mine;
        QVERIFY(QDir().mkpath(mine.path() + "/SavedWindows"));
        const QString link = other.path() + "/here";
        QVERIFY(QFile::link(Install->path(), link));
        const QList<QPair<QString, QString>> cases = {
            {other.path() + "/SavedWindows/DEFAULT_LAYOUT.zkl", builtIn},
            {mine.path() + "/SavedWindows/Mine.zkl", mine.path() + "/SavedWindows/Mine.zkl"},
            {"/gone/clone/build/SavedWindows/Morning.zkl", path("SavedWindows/Morning.zkl")},
            {link + "/SavedWindows/Mine.zkl", link + "/SavedWindows/Mine.zkl"},
            {"/home/u/layouts/Morning.zkl", "/home/u/layouts/Morning.zkl"},
            {"/gone/SavedWindowsX/a.zkl", "/gone/SavedWindowsX/a.zkl"},
        };
        for (const auto& [stored, expected] : cases) {
            WriteLayoutSettings({0, stored, true, stored});
            ReadLayoutSettings(read, s);
            QCOMPARE(read.SaveLayoutName, expected);
            QCOMPARE(read.LoadLayoutName, expected);
        }

        // LoadOnStart is an integer value: the start-up decision tests for exactly that.
        TStoreValue v;
        QVERIFY(TUserStore::Instance().GetValue(key, "LoadOnStart", v));
        QCOMPARE(v.Kind, TValueKind::Dword);
    }

    // One window file: missing keys from the default record, the misspelt key read, the file's
    // path as WindowFileName, its actions, and the font colour kept through load and save.
    void alertWindowFile() {
        form();
        WriteTextFile(saved("W.zka"), "[AlertWindow]\nWidth=333\nStrategyConfig=wrong\n");
        WriteTextFile(saved("S.zka"), "[AlertWindow]\r\nStartegyConfig=S=1\r\nFontColor=255\r\n"
                                      "Action0=1,3\r\nAction1=3,4,Scan\r\nActionsCount=2\r\n");
        WriteTextFile(saved("none.zka"), "[Other]\nWidth=1\n");
        QVERIFY(!LoadAlertWindowFile(form(), saved("none.zka")));
        QVERIFY(!LoadAlertWindowFile(form(), saved("missing.zka")));
        QVERIFY(form().AlertWindows().isEmpty());
        QCOMPARE(messages(), 0);

        QVERIFY(LoadAlertWindowFile(form(), saved("W.zka")));
        TAlertForm* w = form().AlertWindows().last();
        const TLayoutInfo& d = DefaultWindowRecord();
        QVERIFY(w->isVisible());
        QCOMPARE(w->width(), 333);
        QCOMPARE(w->height(), d.Height);
        QCOMPARE(fake(w).FDataConfig, d.DataConfig);
        QCOMPARE(fake(w).FFontColor, d.FontColor);
        QCOMPARE(fake(w).FStrategyConfig, QString());
        QCOMPARE(w->WindowFileName, saved("W.zka"));
        QCOMPARE(w->Actions, DefaultWindowActions());

        QVERIFY(LoadAlertWindowFile(form(), saved("S.zka")));
        w = form().AlertWindows().last();
        QCOMPARE(fake(w).FStrategyConfig, QString("S=1"));
        QCOMPARE(w->Actions, (QStringList{"1,3", "3,4,Scan"}));
        QVERIFY(form().ConnectorForm->ListNames.Contains("Scan"));

        // Saved again, unchanged, into new files: both colours (a system colour and RGB) stay.
        form().AlertWindows().first()->WriteAlertWindowFile(saved("W2.zka"), false);
        w->WriteAlertWindowFile(saved("S2.zka"), false);
        auto color = [](const QString& f) {
            return ReadIntegerValue(TSettingsStore::IniFile(f), "AlertWindow", "FontColor", 0);
        };
        QCOMPARE(color(saved("W2.zka")), d.FontColor);
        QCOMPARE(color(saved("S2.zka")), 255);
        SaveLayout(form(), path("c.zkl"));
        const TSettingsStore c = TSettingsStore::IniFile(path("c.zkl"));
        QCOMPARE(ReadIntegerValue(c, LayoutAlertWindowPath(1), "FontColor", 0), 255);
        QCOMPARE(ReadStringValue(c, LayoutAlertWindowPath(1), "WindowFileName", ""),
                 saved("S2.zka"));

        // A bad action string still opens a finished, shown window; the error follows.
        WriteTextFile(saved("bad.zka"), "[AlertWindow]\nAction0=1,3\nAction1=x,4,L\n"
                                        "ActionsCount=2\n");
        QVERIFY_THROWS_EXCEPTION(EConvertError, LoadAlertWindowFile(form(), saved("bad.zka")));
        w = form().AlertWindows().last();
        QVERIFY(w->isVisible());
        QCOMPARE(w->WindowFileName, saved("bad.zka"));
        QCOMPARE(w->ActionTable.Kind, QStringList{"3"});
    }

    void loadAllSavedWindows() {
        form();
        QDir(saved("")).removeRecursively();
        LoadAllSavedWindows(form()); // only reads: the folder is not created
        QVERIFY(!QFileInfo::exists(saved("")));
        const QByteArray file = "[AlertWindow]\nWidth=300\n";
        for (const char* name : {"A.zka", "DEFAULT_WINDOW.zka", "default_window.zka", "B.zka",
                                 ".hidden.zka", "notes.txt"})
            WriteTextFile(saved(name), file);
        QDir().mkpath(saved("Dir.zka"));
        WriteTextFile(saved("broken.zka"), "[AlertWindow]\nAction0=?\nActionsCount=1\n");
        LoadAllSavedWindows(form());
        QStringList names = fileNames();
        names.sort();
        QCOMPARE(names, (QStringList{"A.zka", "B.zka", "broken.zka", "default_window.zka"}));
        QCOMPARE(messages(), 1); // the broken file's error, once the others are open
        // All shown; none keeps the showing without activation for later showings.
        for (TAlertForm* w : form().AlertWindows()) {
            QVERIFY(w->isVisible());
            QVERIFY(!w->testAttribute(Qt::WA_ShowWithoutActivating));
        }
    }

    // A layout saved and loaded comes back exactly: windows, their actions and every field,
    // the companions' places and visibility, in a file and in the per-user store.
    void roundTrip() {
        TZentrikProMainForm& f = form();
        TAlertForm* a = f.NewAlertWindow();
        a->move(30, 40);
        fake(a).FFontColor = 0x00336699;
        fake(a).FDataConfig = "O=1&WN=Gap%20\"ups\"";
        a->SetActions({"1,2,ding", "1,4,Scan list", "2,4,MAIN LIST"});
        TAlertForm* b = f.NewAlertWindow();
        b->move(100, 120);
        b->resize(400, 250);
        b->WindowFileName = saved("b.zka");
        fake(b).FStrategyConfig = "S=9";
        QFont font = fake(b).FFont;
        font.setItalic(true);
        fake(b).FFont = font;
        f.SymbolListsForm->move(300, 50);
        f.SymbolListsForm->resize(250, 330);
        f.SymbolListsForm->show();
        QVERIFY(!f.AlertHistoryForm); // made only when wanted
        f.AlertHistoryWindow()->move(40, 260);
        f.AlertHistoryWindow()->resize(700, 300);
        f.AlertHistoryWindow()->show();
        const TLayout before = CollectLayout(f);
        QVERIFY(before.HistoryWindow && before.HistoryWindow->Visible);

        SaveLayout(form(), path("one.zkl"));
        const QByteArray text = ReadWholeFile(path("one.zkl"));
        QVERIFY(text.startsWith("[" + P + "\\MainWindow]\n"));
        QVERIFY(text.contains("StartegyConfig=S=9\n"));
        QVERIFY(!text.contains("StrategyConfig"));
        QVERIFY(!text.contains("[" + P + "\\Actions]")); // default actions: the store only

        f.NewAlertWindow(); // closed by the load
        f.SymbolListsForm->hide();
        f.AlertHistoryForm->hide();
        LoadLayout(form(), path("one.zkl"));
        QCOMPARE(f.AlertWindows().size(), 2);
        QCOMPARE(CollectLayout(f), before);
        QCOMPARE(f.AlertWindows().first()->ActionTable.Parameter,
                 (QStringList{"ding", "Scan list", "MAIN LIST"}));
        QVERIFY(f.SymbolListsForm->isVisible());
        QVERIFY(f.AlertHistoryForm->isVisible());
        QCOMPARE(f.AlertHistoryForm->size(), QSize(700, 300));
        SaveLayout(form(), path("two.zkl"));
        QCOMPARE(ReadWholeFile(path("two.zkl")), text);

        SaveLayout(form(), QString());
        f.NewAlertWindow();
        LoadLayout(form(), QString());
        QCOMPARE(CollectLayout(f), before);
    }

    // A stored size the window cannot take (the symbol lists window is never narrower than
    // it was made) is saved again as it was read, until the user gives the window another.
    void sizeTheWindowCannotTakeIsSavedAsRead() {
        TZentrikProMainForm& f = form();
        QWidget* lists = f.SymbolListsForm;
        const int least = lists->minimumWidth();
        QVERIFY(least > 300);
        TLayout layout;
        layout.SymbolWindow = {60, 80, 300, 250, 0, true};
        WriteLayout(TSettingsStore::IniFile(path("narrow.zkl")), layout);
        LoadLayout(f, path("narrow.zkl"));
        QVERIFY(lists->isVisible());
        QCOMPARE(lists->size(), QSize(least, 250));
        SaveLayout(f, path("again.zkl"));
        zkIni::ClearCache();
        const TSettingsStore again = TSettingsStore::IniFile(path("again.zkl"));
        QCOMPARE(ReadIntegerValue(again, LayoutSymbolWindowPath(), "Width", -1), 300);
        QCOMPARE(ReadIntegerValue(again, LayoutSymbolWindowPath(), "Height", -1), 250);
        QCOMPARE(ReadLayout(again).SymbolWindow, layout.SymbolWindow);

        // Resized since: the size it has now.
        lists->resize(least + 40, 260);
        QCOMPARE(CollectLayout(f).SymbolWindow.Width, least + 40);
        QCOMPARE(CollectLayout(f).SymbolWindow.Height, 260);
        // And a size it could take comes back as it is.
        layout.SymbolWindow.Width = least + 10;
        WriteLayout(TSettingsStore::IniFile(path("wide.zkl")), layout);
        LoadLayout(f, path("wide.zkl"));
        QCOMPARE(lists->width(), least + 10);
        QCOMPARE(CollectLayout(f).SymbolWindow, layout.SymbolWindow);
    }

    void restoreShowsEveryWindowInPlaceAndActivatesTheLast() {
        TZentrikProMainForm& f = form();
        // Fewer windows than a restore makes before it delivers what waits (see below).
        QList<QPoint> places{{40, 50}, {260, 70}, {120, 300}, {400, 220}};
        for (int i = 0; i < 36; ++i)
            places << QPoint(20 + (i % 9) * 40, 30 + (i / 9) * 50);
        for (const QPoint& place : places) {
            TAlertForm* w = f.NewAlertWindow();
            w->move(place);
            w->resize(300, 200);
        }
        SaveLayout(f, path("desk.zkl"));
        f.activateWindow();
        QTRY_VERIFY(f.isActiveWindow());

        // Work the client queued before waits for the restore to end: it never meets half a
        // desk.
        qsizetype seen = -1;
        QMetaObject::invokeMethod(
            &f, [&] { seen = f.AlertWindows().size(); }, Qt::QueuedConnection);
        LoadLayout(f, path("desk.zkl"));
        QCOMPARE(seen, qsizetype(-1));
        QTRY_COMPARE(seen, places.size());
        const QList<TAlertForm*> windows = f.AlertWindows();
        QCOMPARE(windows.size(), places.size());
        for (int i = 0; i < windows.size(); ++i) {
            TAlertForm* w = windows[i];
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QTRY_COMPARE(w->frameGeometry().topLeft(), places[i]);
            QCOMPARE(w->size(), QSize(300, 200));
            // Shown without activation once; a later showing activates as for any window.
            QVERIFY(!w->testAttribute(Qt::WA_ShowWithoutActivating));
            QVERIFY(!w->windowHandle()->property("_q_showWithoutActivating").toBool());
        }
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(windows.last()));
    }

    // A big restore delivers the events its windows posted as it goes. Alerts offered
    // meanwhile (by work it delivers) and before it wait for the whole desk: none is lost, none
    // opens a window of its own or goes to another, and each window has them in order.
    void alertsDuringARestoreWaitForTheWholeDesk() {
        TZentrikProMainForm& f = form();
        TAlertRouter* router = f.AlertHub->Router();
        QVERIFY(router);
        router->SetOpenNewWindows(true);
        constexpr int n = 300;
        TLayout layout;
        for (int i = 0; i < n; ++i) {
            TLayoutWindow w{DefaultWindowRecord(), DefaultWindowActions()};
            w.Record.DataConfig = InboxDataConfig(QString("S%1").arg(i));
            layout.Windows.push_back(std::move(w));
        }
        WriteLayout(TSettingsStore::IniFile(path("inbox.zkl")), layout);

        // Offers one alert to the first and the last window's strategy each time it runs, and
        // queues itself again while the restore lasts.
        struct TSender {
            TAlertRouter* Router = nullptr;
            QStringList Sent;
            bool Restoring = false;
            int During = 0;
            void Offer() {
                const QString symbol = QString("A%1").arg(Sent.size());
                Sent << symbol;
                QList<TSourceAlert> alerts(2);
                alerts[0].Symbol = alerts[1].Symbol = symbol;
                alerts[0].Strategy = QString("S%1").arg(n - 1);
                alerts[1].Strategy = "S0";
                QCOMPARE(Router->OfferAlerts(std::move(alerts)).Offer,
                         IAlertSink::TOffer::Accepted);
            }
        };
        auto sender = std::make_shared<TSender>();
        sender->Router = router;
        std::function<void()> next = [sender, &f, &next] {
            if (!sender->Restoring)
                return;
            ++sender->During;
            sender->Offer();
            QMetaObject::invokeMethod(&f, next, Qt::QueuedConnection);
        };
        sender->Offer();
        sender->Restoring = true;
        QMetaObject::invokeMethod(&f, next, Qt::QueuedConnection);
        LoadLayout(f, path("inbox.zkl"));
        sender->Restoring = false;
        QVERIFY2(sender->During >= 2, "the restore delivered no waiting events");
        QCOMPARE(router->Waiting(), 2 * sender->Sent.size());

        QTRY_COMPARE(router->Waiting(), 0);
        const QList<TAlertForm*> windows = f.AlertWindows();
        QCOMPARE(windows.size(), n);
        for (int i = 0; i < n; ++i) {
            QStringList got;
            for (const TAlertData& a : fake(windows[i]).FExternalAlerts)
                got << a.Symbol;
            QCOMPARE(windows[i]->ZentrikWindowX->WindowName(), QString("S%1").arg(i));
            QCOMPARE(got, i == 0 || i == n - 1 ? sender->Sent : QStringList());
        }
    }

    // A big restore fires the zero-delay timers of its windows' lists (their delayed layout,
    // column resizes) as it goes rather than leaving thousands waiting for the event loop. The
    // lists come out as those of a window opened by itself, and keep working.
    void restoredListsMatchAWindowOpenedAlone() {
        const TScopedComponentFactory sim(std::make_shared<TSimComponentFactory>());
        TZentrikProMainForm& f = form();
        constexpr int n = 250; // two and a half of the restore's turns
        const QList<QSize> sizes{{300, 180}, {380, 240}, {460, 300}};
        TLayout layout;
        for (int i = 0; i < n; ++i) {
            TLayoutWindow w{DefaultWindowRecord(), DefaultWindowActions()};
            w.Record.Left = 20 + i % 10 * 30;
            w.Record.Top = 20 + i / 10 * 10;
            w.Record.Width = sizes[i % 3].width();
            w.Record.Height = sizes[i % 3].height();
            layout.Windows.push_back(std::move(w));
        }
        WriteLayout(TSettingsStore::IniFile(path("lists.zkl")), layout);
        LoadLayout(f, path("lists.zkl"));
        const QList<TAlertForm*> windows = f.AlertWindows();
        QCOMPARE(windows.size(), n);
        int waiting = 0, lists = 0;
        for (TAlertForm* w : windows.first(n / 2))
            for (QAbstractItemView* list : w->findChildren<QAbstractItemView*>()) {
                ++lists;
                for (const auto& timer :
                     QAbstractEventDispatcher::instance()->registeredTimers(list))
                    waiting += timer.interval == 0;
            }
        QVERIFY(lists >= n / 2);
        QCOMPARE(waiting, 0);

        QList<TAlertForm*> alone;
        for (int k = 0; k < sizes.size(); ++k) {
            auto* w = new TAlertForm(&f, nullptr);
            w->ApplyWindowRecord(layout.Windows[size_t(k)].Record);
            w->show();
            alone << w;
        }
        const QDateTime time(QDate(2026, 3, 2), QTime(14, 30), Qt::UTC);
        QList<TAlertData> alerts;
        for (int i = 0; i < 40; ++i)
            alerts << TAlertData(QString("SYM%1").arg(i), 0, time, 10 + i, "New high");
        for (TAlertForm* w : windows + alone) {
            QVERIFY(QTest::qWaitForWindowExposed(w));
            w->ZentrikWindowX->AddExternalAlerts(alerts);
        }
        // What the lists' own timers and layout requests do, once the event loop ran.
        const auto listState = [](TAlertForm* w) {
            auto* list = w->findChild<QTableView*>();
            QStringList state;
            if (!list)
                return state;
            QHeaderView* header = list->horizontalHeader();
            for (int c = 0; c < header->count(); ++c)
                state << QString("column %1: %2").arg(c).arg(header->sectionSize(c));
            const QRect first = list->visualRect(list->model()->index(0, 0));
            const QRect last = list->visualRect(list->model()->index(39, 3));
            state << QString("rows %1, viewport %2x%3, scroll %4/%5, first %6,%7 %8x%9, last %10")
                         .arg(list->model()->rowCount())
                         .arg(list->viewport()->width())
                         .arg(list->viewport()->height())
                         .arg(list->verticalScrollBar()->maximum())
                         .arg(list->horizontalScrollBar()->maximum())
                         .arg(first.x())
                         .arg(first.y())
                         .arg(first.width())
                         .arg(first.height())
                         .arg(last.bottom());
            return state;
        };
        QTest::qWait(50);
        QCoreApplication::processEvents();
        for (int i = 0; i < n; i += 7) {
            const QStringList expected = listState(alone[i % 3]);
            QVERIFY(!expected.isEmpty());
            QCOMPARE(listState(windows[i]), expected);
        }
        qDeleteAll(alone);
    }

    // At each of its turns a big restore takes in what the window system sent for the windows
    // made so far (they are exposed as it goes), and no timer runs meanwhile: one due waits for
    // the event loop, and then meets the whole desk.
    void restoreTakesInTheWindowSystemButRunsNoTimer() {
        TZentrikProMainForm& f = form();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        constexpr int n = 250;
        TLayout layout;
        for (int i = 0; i < n; ++i)
            layout.Windows.push_back({DefaultWindowRecord(), DefaultWindowActions()});
        WriteLayout(TSettingsStore::IniFile(path("turns.zkl")), layout);

        qsizetype timerSaw = -1;
        // A timer of its own: a zero single shot would be a posted call, which a turn delivers.
        QTimer due;
        due.setSingleShot(true);
        connect(&due, &QTimer::timeout, &f, [&] { timerSaw = f.AlertWindows().size(); });
        due.start(0);
        LoadLayout(f, path("turns.zkl"));
        QCOMPARE(timerSaw, qsizetype(-1));
        const QList<TAlertForm*> windows = f.AlertWindows();
        QCOMPARE(windows.size(), n);
        int exposed = 0;
        for (TAlertForm* w : windows.first(n / 2))
            exposed += w->windowHandle() && w->windowHandle()->isExposed();
        QCOMPARE(exposed, n / 2);

        QTRY_COMPARE(timerSaw, qsizetype(n));
    }

    void historyWindowOnlyOnceOpened() {
        TZentrikProMainForm& f = form();
        f.AlertHistoryWindow()->show();
        SaveLayout(f, path("h.zkl"));
        QVERIFY(ReadWholeFile(path("h.zkl")).contains("\\HistoryWindow]"));
        // A session that never opened it saves over the file: no window to open from it.
        Form.reset();
        TZentrikProMainForm& g = form();
        QVERIFY(!g.AlertHistoryForm);
        LoadLayout(g, path("h.zkl"));
        QVERIFY(g.AlertHistoryForm && g.AlertHistoryForm->isVisible());
        Form.reset();
        SaveLayout(form(), path("h.zkl"));
        QVERIFY(!ReadWholeFile(path("h.zkl")).contains("HistoryWindow"));
        LoadLayout(form(), path("h.zkl"));
        QVERIFY(!form().AlertHistoryForm);
    }

    void savingOverALongerLayout() {
        TZentrikProMainForm& f = form();
        for (int i = 0; i < 5; ++i)
            f.NewAlertWindow()->SetActions({"1,3", "1,4,L" + QString::number(i)});
        WriteTextFile(path("keep.zkl"), "[" + P + "\\AlertWindow0]\nNote=stale\n");
        SaveLayout(form(), path("keep.zkl"));
        SaveLayout(form(), QString());
        const QList<TAlertForm*> all = f.AlertWindows();
        for (int i = 3; i < 5; ++i)
            delete all[i];
        all[0]->SetActions({"1,3"});
        SaveLayout(form(), path("keep.zkl"));
        SaveLayout(form(), QString());

        for (const TSettingsStore& s :
             {TSettingsStore::IniFile(path("keep.zkl")), TSettingsStore::Registry()}) {
            QCOMPARE(alertCount(s), 3);
            // Groups of windows 3 and 4 remain and are ignored; an actions group keeps what
            // its count makes readers ignore.
            QCOMPARE(ReadIntegerValue(s, LayoutAlertWindowPath(4), "Width", 0), 675);
            const QString actions = LayoutAlertWindowPath(0) + "\\Actions";
            QCOMPARE(ReadStringValue(s, actions, "Action1", ""), QString("1,4,L0"));
            QCOMPARE(ReadActionsRecord(s, actions, {}), QStringList{"1,3"});
            QCOMPARE(ReadLayout(s).Windows.size(), size_t(3));
        }
        // A file's record groups are replaced whole; the store keeps its values.
        QCOMPARE(ReadStringValue(TSettingsStore::IniFile(path("keep.zkl")),
                                 LayoutAlertWindowPath(0), "Note", "gone"),
                 QString("gone"));
        QCOMPARE(ReadActionsRecord(TSettingsStore::Registry(), LayoutKeyPath() + "\\Actions", {}),
                 LayoutDefaultActions());
    }

    // Damaged and foreign layouts read by the rules, with defaults for what is missing.
    void damagedLayouts() {
        TZentrikProMainForm& f = form();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QByteArray good = [&] {
            f.NewAlertWindow();
            SaveLayout(form(), path("good.zkl"));
            return ReadWholeFile(path("good.zkl"));
        }();
        QRandomGenerator random(7);
        QByteArray binary(4096, Qt::Uninitialized);
        for (char& c : binary)
            c = char(random.bounded(256));
        struct TCase {
            const char* Name;
            QByteArray Text;
            int Windows;
        };
        const QList<TCase> cases = {
            {"empty", "", 0},
            {"truncated", good.left(good.indexOf("FontName")), 0},
            {"binary", binary, 0},
            {"wrong types", "[" + P + "]\nAlertCount=two\n", 0},
            {"negative count", "[" + P + "]\nAlertCount=-5\n", 0},
            {"count without groups", "[" + P + "]\nAlertCount=2\n", 2},
            {"huge count",
             "[" + P + "]\r\nAlertCount=2000000000\r\n[" + P + "\\AlertWindow7]\r\nWidth=310\r\n[" +
                 P + "\\AlertWindow07]\r\n[" + P + "\\AlertWindow0\\Actions]\r\n",
             1},
            {"other key path", QByteArray(good).replace("Velquist Client", "Other Client"), 0},
            {"windows text",
             "[" + P + "]\r\nAlertCount=1\r\n[" + P +
                 "\\AlertWindow0]\r\nFontName=Caf\xe9\r\nTop=abc\r\n"
                 "Left=-90000\r\nWidth=2000000000\r\n",
             1},
        };
        for (const TCase& c : cases) {
            WriteTextFile(path("bad.zkl"), c.Text);
            LoadLayout(form(), path("bad.zkl"));
            QVERIFY2(int(f.AlertWindows().size()) == c.Windows, c.Name);
            QVERIFY2(!f.SymbolListsForm->isVisible() && !f.ConnectorForm->isVisible(), c.Name);
            for (TAlertForm* w : f.AlertWindows())
                QVERIFY2(screen.intersects(w->frameGeometry()), c.Name);
        }
        TAlertForm* w = f.AlertWindows().first();
        QCOMPARE(fake(w).FFont.family(), QString("Café"));
        QCOMPARE(w->x(), screen.left()); // brought back from far left
        QVERIFY(w->width() <= QGuiApplication::primaryScreen()->geometry().width());
        LoadLayout(form(), path("huge.zkl")); // no file: an empty layout
        QVERIFY(f.AlertWindows().isEmpty());
        QCOMPARE(f.pos(), QPoint(20, 20));
        QVERIFY(f.SymbolListsForm->width() > 0); // no stored size keeps the window's own

        // The count's guard in the per-user store too.
        const TSettingsStore r = TSettingsStore::Registry();
        WriteIntegerValue(r, LayoutKeyPath(), "AlertCount", 2000000000);
        WriteIntegerValue(r, LayoutAlertWindowPath(3), "Width", 320);
        WriteIntegerValue(r, LayoutAlertWindowPath(9), "Width", 330);
        const TLayout layout = ReadLayout(r);
        QCOMPARE(layout.Windows.size(), size_t(2));
        QCOMPARE(layout.Windows[1].Record.Width, 330);
    }

    void bigLayoutsKeepEveryWindow() {
        // A real desk of 5,000 windows, numbered as a save writes them, in a file and in the
        // per-user store: every window is read, and written back as many.
        const int n = 5000;
        QByteArray text = "[" + P + "]\nAlertCount=" + QByteArray::number(n) + "\n";
        for (int i = 0; i < n; ++i)
            text += "[" + P + "\\AlertWindow" + QByteArray::number(i) +
                    "]\nWidth=" + QByteArray::number(200 + i) + "\n";
        WriteTextFile(path("big.zkl"), text);
        const TLayout read = ReadLayout(TSettingsStore::IniFile(path("big.zkl")));
        QCOMPARE(read.Windows.size(), size_t(n));
        QCOMPARE(read.Windows.back().Record.Width, 200 + n - 1);
        const TSettingsStore r = TSettingsStore::Registry();
        for (const TSettingsStore& store : {TSettingsStore::IniFile(path("copy.zkl")), r}) {
            WriteLayout(store, read);
            QCOMPARE(alertCount(store), n);
            QVERIFY(ReadLayout(store) == read);
        }
    }

    void failedWritesLeaveTheOldFile() {
        TZentrikProMainForm& f = form();
        f.NewAlertWindow();
        const QString missingDir = path("nowhere/x.zkl");
        try {
            SaveLayout(form(), missingDir);
            QFAIL("no error");
        } catch (const EIniFileError& e) {
            QCOMPARE(e.message(), "Unable to write to " + missingDir);
        }
        SaveLayout(form(), path("old.zkl"));
        const QByteArray old = ReadWholeFile(path("old.zkl"));
        if (!setImmutable(path("old.zkl"), true))
            QSKIP("no immutable files here");
        f.NewAlertWindow();
        QVERIFY_THROWS_EXCEPTION(EIniFileError, SaveLayout(form(), path("old.zkl")));
        setImmutable(path("old.zkl"), false);
        QCOMPARE(ReadWholeFile(path("old.zkl")), old);

        // Closing with that save failing keeps the main window open, to save elsewhere.
        f.LayoutSettings.SaveOnExit = 0;
        f.LayoutSettings.SaveLayoutName = missingDir;
        QVERIFY(!f.close());
        QVERIFY(f.isVisible());
        f.LayoutSettings.SaveLayoutName = path("elsewhere.zkl");
        QVERIFY(f.close());
        QCOMPARE(alertCount(TSettingsStore::IniFile(path("elsewhere.zkl"))), 2);
    }

    void startupDecision() {
        // First start, a layout in the per-user store: it opens and is carried into the file.
        WriteTextFile(saved("A.zka"), "[AlertWindow]\nWidth=300\n");
        const TSettingsStore r = TSettingsStore::Registry();
        WriteIntegerValue(r, LayoutKeyPath(), "AlertCount", 2);
        // A choice of the wrong kind does not count as saved.
        WriteStringValue(r, SettingsKeyPath() + "\\Settings", "LoadOnStart", "1");
        QCOMPARE(form().AlertWindows().size(), 2);
        const QString builtIn = saved("DEFAULT_LAYOUT.zkl");
        QCOMPARE(alertCount(TSettingsStore::IniFile(builtIn)), 2);
        Form.reset();

        // First start without a stored layout: the saved windows, carried over as well.
        EraseSection(r, LayoutKeyPath());
        QFile::remove(builtIn);
        QCOMPARE(fileNames(), QStringList{"A.zka"});
        QCOMPARE(alertCount(TSettingsStore::IniFile(builtIn)), 1);
        Form.reset();

        // Choices saved before: the chosen layout file, or every window file when it is
        // missing, or nothing at all.
        WriteTextFile(path("desk.zkl"), "[" + P + "]\nAlertCount=3\n");
        storeLayoutChoices(true, path("desk.zkl"));
        QCOMPARE(form().AlertWindows().size(), 3);
        Form.reset();
        storeLayoutChoices(true, path("missing.zkl"));
        QCOMPARE(fileNames(), QStringList{"A.zka"});
        QVERIFY(!QFileInfo::exists(path("missing.zkl")));
        Form.reset();
        storeLayoutChoices(false, path("desk.zkl"));
        QVERIFY(form().AlertWindows().isEmpty());
    }

    void fileMenuDialogs() {
        TZentrikProMainForm& f = form();
        f.NewAlertWindow();
        f.LayoutSettings.LoadLayoutName = path("new/dir/mine.zkl");

        zkPrompts::ClearScript();
        SaveLayoutDialog(form()); // cancelled: nothing saved, nothing said
        QCOMPARE(zkPrompts::Shown().size(), 1);
        const zkPrompts::TPromptRecord save = zkPrompts::Shown().first();
        QCOMPARE(save.Kind, QString("save"));
        QCOMPARE(save.File.Filter, QString("Velquist Layout files (*.zkl)|*.zkl|All files (*)|*"));
        QCOMPARE(save.File.DefaultExt, QString("zkl"));
        QCOMPARE(save.File.InitialDir, path("new/dir"));
        QCOMPARE(save.File.FileName, QString("mine.zkl"));
        QVERIFY(save.File.OverwritePrompt && save.File.PathMustExist);
        QVERIFY(QFileInfo(path("new/dir")).isDir());
        QVERIFY(!QFileInfo::exists(path("new/dir/mine.zkl")));

        zkPrompts::SetNextFileName(path("new/dir/chosen"));
        SaveLayoutDialog(form());
        QCOMPARE(alertCount(TSettingsStore::IniFile(path("new/dir/chosen.zkl"))), 1);
        const zkPrompts::TPromptRecord done = zkPrompts::Shown().last();
        QCOMPARE(done.Text, QString("Layout saved."));
        QCOMPARE(done.Icon, zkPrompts::TIcon::Information);
        QCOMPARE(done.Buttons, zkPrompts::TButtons::OK);

        // Restore starts in the built-in folder when LoadLayoutName's folder is gone.
        f.LayoutSettings.LoadLayoutName = path("gone/x.zkl");
        f.NewAlertWindow();
        zkPrompts::ClearScript();
        zkPrompts::SetNextFileName(path("new/dir/chosen.zkl"));
        RestoreLayoutDialog(form());
        const zkPrompts::TPromptRecord open = zkPrompts::Shown().first();
        QCOMPARE(open.Kind, QString("open"));
        QCOMPARE(open.File.InitialDir, path("SavedWindows"));
        QCOMPARE(open.File.FileName, QString("x.zkl"));
        QCOMPARE(open.File.Filter, save.File.Filter);
        QCOMPARE(f.AlertWindows().size(), 1);
        QCOMPARE(messages(), 0);

        zkPrompts::ClearScript();
        WriteTextFile(saved("L.zka"), "[AlertWindow]\nHeight=222\n");
        zkPrompts::SetNextFileName(saved("L.zka"));
        LoadAlertWindowDialog(form());
        QCOMPARE(zkPrompts::Shown().first().File.Filter,
                 QString("Velquist files (*.zka)|*.zka|All files (*)|*"));
        QCOMPARE(zkPrompts::Shown().first().File.InitialDir, path("SavedWindows"));
        QCOMPARE(f.AlertWindows().last()->height(), 222);
    }
};

QTEST_MAIN(TLayoutsTest)
#include "tst_layouts.moc"
