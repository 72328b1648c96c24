#pragma once

#include "history/zkHistoryStore.h"

#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TAlertRecorder;
class THistoryModel;

// "Alert History": every alert the windows took, newest first, with filters for the symbol
// (prefix), the window and a range of days, a count, live rows and export to CSV. Created by
// the main window the first time it is wanted; closing it hides it and lets its rows go.
class TAlertHistoryForm : public QWidget {
    Q_OBJECT
public:
    // The recorder gives the file and the alerts it writes; it must outlive the window.
    TAlertHistoryForm(QWidget* owner, TAlertRecorder* recorder);
    ~TAlertHistoryForm() override;

    // --- controls ---
    QLineEdit* SymbolEdit = nullptr;
    QComboBox* WindowComboBox = nullptr;
    QCheckBox* FromCheckBox = nullptr;
    QDateEdit* FromDateEdit = nullptr;
    QCheckBox* ToCheckBox = nullptr;
    QDateEdit* ToDateEdit = nullptr;
    QTableView* AlertsView = nullptr;
    QLabel* CountLabel = nullptr;
    // Shown once alerts did not reach the file this run: how many rows are missing.
    QLabel* DroppedLabel = nullptr;
    QPushButton* ExportButton = nullptr;
    THistoryModel* Model = nullptr;

    // The filter the controls describe.
    THistoryFilter CurrentFilter() const;
    // Reads the rows and the count again for the controls' filter.
    void ApplyFilter();
    // Asks for a file and writes what the filter keeps to it, oldest first.
    void ExportButtonClick();
    // How many alerts the filter keeps; -1 while counting.
    qint64 MatchCount() const { return Matches; }
    // Waits for a count or an export in progress (tests).
    void WaitForWork();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // Opens the history file for reading; false (with the reason shown) when it cannot.
    bool OpenStore();
    // Opens the file when it is not open, then reads the names, rows and count again.
    void Reload();
    // A read that failed: the reason is shown; a lock of another program is tried again.
    void ReadFailed(const EHistoryError& error);
    void AlertsStored(const std::vector<THistoryAlert>& alerts);
    void FillWindowNames();
    void StartCount();
    void UpdateCountLabel();
    void UpdateDroppedLabel(quint64 dropped);

    QPointer<TAlertRecorder> Recorder;
    std::unique_ptr<THistoryStore> Store;
    QString StoreProblem;
    // No file yet (a first start): the writer's first alerts bring it.
    bool NoFileYet = false;
    QTimer FilterTimer;
    QTimer RetryTimer;
    // Counts and exports run here, one at a time, each with its own connection.
    QThreadPool Workers;
    std::shared_ptr<std::atomic<bool>> Cancel;
    unsigned Generation = 0;
    qint64 Matches = -1;
    QString ExportText;
};
