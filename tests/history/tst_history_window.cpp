// The alert history as the user meets it: alert windows hand their alerts to the desk's log,
// the history window's rows (pages, filters, live rows, count, export) and the kept period on
// the Options dialog.
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "desk/zkAlertLog.h"
#include "history/zkAlertHistoryForm.h"
#include "history/zkAlertHistoryModel.h"
#include "history/zkAlertRecorder.h"
#include "history/zkHistorySettings.h"
#include "platform/zkPrompts.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkHistoryTestUtil.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>

#include <sqlite3.h>

namespace {

// Keeps what the windows hand over, as the recorder would get it.
struct TLogged {
    QString Window, Symbol;
    TAlertSource Source;
};
class TListLog : public IAlertLog {
public:
    void RecordAlert(const QString& window, const IAlertData& alert) override {
        Logged.append({window, alert.AlertSymbol(), alert.Source()});
    }
    QList<TLogged> Logged;
};

QStringList Symbols(const THistoryModel& model) {
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row)
        list << model.AlertAt(row).Symbol;
    return list;
}

// Day 2026-12-01 12:00 UTC plus minutes.
qint64 At(int minutes) {
    return QDateTime(QDate(2026, 12, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch() +
           qint64(minutes) * 60000;
}

} // namespace

class THistoryWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    QString path() const { return Home->dataHome() + QStringLiteral("/velquist/history.sqlite3"); }

    // A history file holding the alerts, through the writer's own connection.
    void write(std::vector<THistoryAlert> alerts) {
        THistoryStore store(path(), THistoryStore::TMode::ReadWrite);
        store.Append(alerts);
    }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        TUserStore::ResetInstance();
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
    }
    void cleanup() {
        TUserStore::ResetInstance();
        Home.reset();
    }

    void windowsHandEveryAlertToTheLog() {
        auto factory = std::make_shared<TFakeComponentFactory>();
        TScopedComponentFactory scope(factory);
        TFakeDesk desk;
        TListLog log;
        desk.Log = &log;
        TAlertForm* window = desk.NewAlertWindow();
        window->setWindowTitle(QStringLiteral("Gap Ups"));
        auto& fake = *static_cast<TFakeZentrikWindowX*>(window->ZentrikWindowX->Component());
        fake.RaiseNewAlert(QStringLiteral("AMD"));
        fake.RaiseNewAlert(QStringLiteral("SKIP"), 1); // shown, so kept, though no actions run
        window->ZentrikWindowX->AddExternalAlerts({TAlertData(QStringLiteral("IBM"), 0)});
        QCOMPARE(log.Logged.size(), 3);
        QCOMPARE(log.Logged[0].Window, QStringLiteral("Gap Ups"));
        QCOMPARE(log.Logged[1].Symbol, QStringLiteral("SKIP"));
        QCOMPARE(log.Logged[0].Source, TAlertSource::Service);

        // Without a log (no history kept) the window works as before.
        desk.Log = nullptr;
        fake.RaiseNewAlert(QStringLiteral("MSFT"));
        QCOMPARE(log.Logged.size(), 3);
    }

    void pagesFiltersAndLiveRows() {
        std::vector<THistoryAlert> alerts;
        for (int i = 0; i < 450; ++i)
            alerts.push_back(
                MakeHistoryAlert(At(i), i % 2 ? QStringLiteral("Odd") : QStringLiteral("Even"),
                                 i % 3 ? QStringLiteral("AMD") : QStringLiteral("amzn")));
        write(alerts);
        THistoryStore store(path(), THistoryStore::TMode::ReadOnly);
        THistoryModel model;
        model.Reset(&store, THistoryFilter());
        QCOMPARE(model.rowCount(), THistoryModel::PageRows);
        QCOMPARE(model.AlertAt(0).TimeMs, At(449)); // newest first
        while (model.canFetchMore(QModelIndex()))
            model.fetchMore(QModelIndex());
        QCOMPARE(model.rowCount(), 450);
        QSet<qint64> ids;
        for (int row = 0; row < model.rowCount(); ++row) {
            ids.insert(model.AlertAt(row).Id);
            if (row > 0)
                QVERIFY(model.AlertAt(row).TimeMs < model.AlertAt(row - 1).TimeMs);
        }
        QCOMPARE(ids.size(), 450);

        THistoryFilter filter;
        filter.SymbolPrefix = QStringLiteral("Am");
        filter.Window = QStringLiteral("Odd");
        filter.FromMs = At(100);
        filter.ToMs = At(199);
        model.Reset(&store, filter);
        while (model.canFetchMore(QModelIndex()))
            model.fetchMore(QModelIndex());
        QCOMPARE(model.rowCount(), 50);
        for (int row = 0; row < model.rowCount(); ++row) {
            const THistoryAlert& a = model.AlertAt(row);
            QVERIFY(a.Window == "Odd" && a.TimeMs >= At(100) && a.TimeMs <= At(199));
        }

        // Live: only what the filter keeps and what the pages did not hold already.
        model.Reset(&store, THistoryFilter{QStringLiteral("IB"), {}, {}, {}});
        QCOMPARE(model.rowCount(), 0);
        std::vector<THistoryAlert> live{MakeHistoryAlert(At(500), "Odd", "IBM"),
                                        MakeHistoryAlert(At(501), "Odd", "X"),
                                        MakeHistoryAlert(At(502), "Even", "ibkr")};
        {
            THistoryStore writer(path(), THistoryStore::TMode::ReadWrite);
            writer.Append(live);
        }
        QCOMPARE(model.AddRecorded(live), 2);
        QCOMPARE(Symbols(model), (QStringList{"ibkr", "IBM"}));
        QCOMPARE(model.AddRecorded(live), 0); // announced twice: shown once
        // A reset after the write shows the same rows, read from the file.
        model.Reset(&store, model.Filter());
        QCOMPARE(Symbols(model), (QStringList{"ibkr", "IBM"}));
        QCOMPARE(model.AddRecorded(live), 0);
    }

    void windowShowsFiltersCountsAndExports() {
        write({MakeHistoryAlert(At(0), "Gap Ups", "AMD", 101.5, "First \"hit\", up"),
               MakeHistoryAlert(At(1), "Gap Ups", "AAPL"),
               MakeHistoryAlert(At(2), "Runners", "AMD"),
               MakeHistoryAlert(At(60 * 24 * 2), "Runners", "TSLA")});
        TAlertRecorder recorder(path(), 30);
        TAlertHistoryForm form(nullptr, &recorder);
        form.show();
        form.WaitForWork();
        QCOMPARE(form.windowTitle(), QStringLiteral("Alert History"));
        QCOMPARE(form.Model->rowCount(), 4);
        QCOMPARE(form.CountLabel->text(), QStringLiteral("4 alerts"));
        QCOMPARE(form.WindowComboBox->count(), 3); // all, and the two names
        QCOMPARE(form.WindowComboBox->itemText(2), QStringLiteral("Runners"));

        form.SymbolEdit->setText(QStringLiteral("am"));
        QTRY_COMPARE(form.Model->rowCount(), 2); // after the typing pause
        form.WaitForWork();
        QCOMPARE(form.CountLabel->text(), QStringLiteral("2 alerts"));
        form.WindowComboBox->setCurrentIndex(1);
        form.ApplyFilter();
        form.WaitForWork();
        QCOMPARE(form.MatchCount(), 1);
        QCOMPARE(form.CountLabel->text(), QStringLiteral("1 alert"));

        // Live rows the filter keeps come on top and into the count.
        THistoryAlert live =
            MakeHistoryAlert(QDateTime::currentMSecsSinceEpoch(), "Gap Ups", "AMDL");
        recorder.Record(live);
        recorder.Record(MakeHistoryAlert(QDateTime::currentMSecsSinceEpoch(), "Runners", "AMD"));
        recorder.Flush();
        QTRY_COMPARE(form.Model->rowCount(), 2);
        QCOMPARE(form.Model->AlertAt(0).Symbol, QStringLiteral("AMDL"));
        QCOMPARE(form.MatchCount(), 2);

        // The days are local days, both ends kept.
        form.SymbolEdit->clear();
        form.WindowComboBox->setCurrentIndex(0);
        const QDate day = QDateTime::fromMSecsSinceEpoch(At(0)).toLocalTime().date();
        form.FromDateEdit->setDate(day);
        form.ToDateEdit->setDate(day);
        form.FromCheckBox->setChecked(true);
        form.ToCheckBox->setChecked(true);
        form.WaitForWork();
        QCOMPARE(Symbols(*form.Model), (QStringList{"AMD", "AAPL", "AMD"}));
        QCOMPARE(form.MatchCount(), 3);

        // Export: what the filter keeps, oldest first, as velquist-history writes it.
        const QString csv = Home->path() + QStringLiteral("/day.csv");
        zkPrompts::SetNextFileName(csv);
        form.ExportButtonClick();
        form.WaitForWork();
        QVERIFY(form.ExportButton->isEnabled());
        QVERIFY2(form.CountLabel->text().contains("3 alerts exported to day.csv"),
                 qPrintable(form.CountLabel->text()));
        THistoryStore store(path(), THistoryStore::TMode::ReadOnly);
        QByteArray expected = HistoryCsvHeader();
        store.ForEach(form.CurrentFilter(), [&](const THistoryAlert& a) {
            expected += HistoryCsvLine(a);
            return true;
        });
        QCOMPARE(ReadWholeFile(csv), expected);
        QVERIFY(expected.contains("\"First \"\"hit\"\", up\""));

        // Hidden, it lets its rows go; shown again, it reads them anew.
        form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.Model->rowCount(), 0);
        form.show();
        form.WaitForWork();
        QCOMPARE(form.Model->rowCount(), 3);
    }

    // The keyboard walks the window as it is laid out: from "To" into the table and out of it
    // to Export, and back the same way.
    void tabLeadsThroughTheTableToExport() {
        write({MakeHistoryAlert(At(0), "Gap Ups", "AMD"), MakeHistoryAlert(At(1), "Gap Ups", "IBM"),
               MakeHistoryAlert(At(2), "Runners", "AMD")});
        TAlertRecorder recorder(path(), 30);
        TAlertHistoryForm form(nullptr, &recorder);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.WaitForWork();
        QCOMPARE(form.Model->rowCount(), 3);
        auto focus = [] { return QApplication::focusWidget(); };
        auto name = [](const QWidget* w) { return w ? w->objectName() : QStringLiteral("none"); };
        QVERIFY(!form.ToDateEdit->isEnabled()); // no end date: the box is the last filter
        form.ToCheckBox->setFocus();
        QTRY_COMPARE(focus(), form.ToCheckBox);
        QTest::keyClick(focus(), Qt::Key_Tab);
        QVERIFY2(focus() == form.AlertsView, qPrintable(name(focus())));
        // In the table the arrows move among the rows; Tab goes on.
        QTest::keyClick(focus(), Qt::Key_Down);
        QCOMPARE(focus(), form.AlertsView);
        QVERIFY(form.AlertsView->currentIndex().isValid());
        QTest::keyClick(focus(), Qt::Key_Tab);
        QVERIFY2(focus() == form.ExportButton, qPrintable(name(focus())));
        QTest::keyClick(focus(), Qt::Key_Backtab);
        QVERIFY2(focus() == form.AlertsView, qPrintable(name(focus())));
        QTest::keyClick(focus(), Qt::Key_Backtab);
        QVERIFY2(focus() == form.ToCheckBox, qPrintable(name(focus())));
    }

    void exportThatCannotBeWrittenIsTold() {
        write({MakeHistoryAlert(At(0), "W", "AMD")});
        TAlertRecorder recorder(path(), 30);
        TAlertHistoryForm form(nullptr, &recorder);
        form.show();
        form.WaitForWork();
        // A folder where the file should go: the dialog lets it through, the write fails.
        const QString target = Home->path() + QStringLiteral("/x.csv");
        QVERIFY(QDir().mkpath(target));
        zkPrompts::SetNextFileName(target);
        form.ExportButtonClick();
        form.WaitForWork();
        const QList<zkPrompts::TPromptRecord> shown = zkPrompts::Shown();
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.last().Kind, QStringLiteral("message"));
        QVERIFY(shown.last().Text.startsWith("The alert history could not be exported"));
        QVERIFY(form.ExportButton->isEnabled());
    }

    // A first start: no file yet when the window opens; the first alerts written bring it.
    void firstAlertsOfANewHistoryShowInAnOpenWindow() {
        TAlertRecorder recorder(path(), 30);
        TAlertHistoryForm form(nullptr, &recorder);
        form.show();
        form.WaitForWork();
        if (!QFileInfo::exists(path())) // the writer's first round may have come already
            QCOMPARE(form.CountLabel->text(), QStringLiteral("No alerts have been kept yet."));
        recorder.Record(MakeHistoryAlert(QDateTime::currentMSecsSinceEpoch(), "W", "AMD"));
        QTRY_COMPARE(form.Model->rowCount(), 1);
        QTRY_COMPARE(form.CountLabel->text(), QStringLiteral("1 alert"));
    }

    // Another program locks the file so that not even readers get in: the window says so at
    // once rather than waiting for the lock, and reads the rows once it is free.
    void aLockedFileIsNotWaitedFor() {
        write({MakeHistoryAlert(At(0), "W", "AMD")});
        TAlertRecorder recorder(path(), 30);
        sqlite3* holder = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path()).constData(), &holder), SQLITE_OK);
        QCOMPARE(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        TAlertHistoryForm form(nullptr, &recorder);
        QElapsedTimer shown;
        shown.start();
        form.show();
        const qint64 ms = shown.elapsed();
        qInfo("opening the window under the lock took %lld ms", ms);
        // A wait for the lock would take the 5 s a statement may wait.
        QVERIFY2(ms < 2500, qPrintable(QString::number(ms)));
        QCOMPARE(form.CountLabel->text(),
                 QStringLiteral("Another program holds the alert history; trying again..."));
        QCOMPARE(form.Model->rowCount(), 0);
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        QTRY_COMPARE(form.Model->rowCount(), 1);
        QTRY_COMPARE(form.CountLabel->text(), QStringLiteral("1 alert"));
    }

    // Alerts the history had to drop leave a gap the window says it has, with the count, as it
    // grows while the window is open and when it opens later.
    void droppedAlertsAreCountedInTheWindow() {
        WriteTextFile(Home->dataHome() + QStringLiteral("/velquist"), "a file, not the folder");
        TAlertRecorder recorder(path(), 30);
        TAlertHistoryForm form(nullptr, &recorder);
        form.show();
        QVERIFY(form.DroppedLabel->isHidden());
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 120000; ++i)
            recorder.Record(MakeHistoryAlert(now, "W", QStringLiteral("S%1").arg(i)));
        recorder.Flush();
        QVERIFY(recorder.DroppedCount() > 0);
        const QString count = QLocale().toString(qulonglong(recorder.DroppedCount()));
        QTRY_VERIFY(form.DroppedLabel->isVisible());
        QTRY_VERIFY2(form.DroppedLabel->text().startsWith(count + " alerts of this session are "
                                                                  "missing here"),
                     qPrintable(form.DroppedLabel->text()));
        TAlertHistoryForm later(nullptr, &recorder);
        later.show();
        QVERIFY(later.DroppedLabel->isVisible());
        QVERIFY(later.DroppedLabel->text().startsWith(count + " alerts"));
    }

    void keptPeriodSetting() {
        const TSettingsStore store = TSettingsStore::Registry();
        QCOMPARE(ReadHistoryDays(store), DefaultHistoryDays);
        WriteHistoryDays(store, 0);
        QCOMPARE(ReadHistoryDays(store), 0);
        QCOMPARE(ReadIntegerValue(store, SettingsKeyPath() + "\\Settings", "HistoryDays", -1), 0);
        WriteHistoryDays(store, -5); // a damaged value keeps the default, not "keep nothing"
        QCOMPARE(ReadHistoryDays(store), DefaultHistoryDays);
    }
};

QTEST_MAIN(THistoryWindowTest)
#include "tst_history_window.moc"
