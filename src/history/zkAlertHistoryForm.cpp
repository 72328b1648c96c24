#include "zkAlertHistoryForm.h"

#include "desktop/zkWindowRing.h"
#include "history/zkAlertHistoryModel.h"
#include "history/zkAlertRecorder.h"
#include "platform/zkPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace {

template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Local midnight of the day, in UTC milliseconds.
qint64 DayStartMs(const QDate& day) {
    return day.startOfDay().toMSecsSinceEpoch();
}

} // namespace

TAlertHistoryForm::TAlertHistoryForm(QWidget* owner, TAlertRecorder* recorder)
    : QWidget(owner, Qt::Window), Recorder(recorder),
      Cancel(std::make_shared<std::atomic<bool>>(false)) {
    FormCreate();
}

TAlertHistoryForm::~TAlertHistoryForm() {
    Cancel->store(true);
    Workers.waitForDone();
}

void TAlertHistoryForm::FormCreate() {
    setObjectName(QStringLiteral("AlertHistoryForm"));
    setWindowTitle(tr("Alert History"));
    Workers.setMaxThreadCount(1);

    SymbolEdit = Named(new QLineEdit(this), "SymbolEdit");
    SymbolEdit->setClearButtonEnabled(true);
    SymbolEdit->setMaximumWidth(90);
    WindowComboBox = Named(new QComboBox(this), "WindowComboBox");
    WindowComboBox->setMinimumContentsLength(10);
    WindowComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    const QDate today = QDate::currentDate();
    FromCheckBox = Named(new QCheckBox(tr("From"), this), "FromCheckBox");
    FromDateEdit = Named(new QDateEdit(today, this), "FromDateEdit");
    ToCheckBox = Named(new QCheckBox(tr("To"), this), "ToCheckBox");
    ToDateEdit = Named(new QDateEdit(today, this), "ToDateEdit");
    FromDateEdit->setAccessibleName(tr("From date"));
    ToDateEdit->setAccessibleName(tr("To date"));
    for (QDateEdit* edit : {FromDateEdit, ToDateEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setEnabled(false);
        // Its own hint leaves no room for the popup's arrow in some styles.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) +
                              40);
    }
    FillWindowNames();

    Model = new THistoryModel(this);
    AlertsView = Named(new QTableView(this), "AlertsView");
    AlertsView->setAccessibleName(tr("Alert history"));
    AlertsView->setModel(Model);
    AlertsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    AlertsView->setAlternatingRowColors(true);
    AlertsView->setWordWrap(false);
    // Tab leaves the table for the next control, as in every other window; the arrow keys
    // move among the rows. (Walking cell by cell, Tab never reached Export.)
    AlertsView->setTabKeyNavigation(false);
    AlertsView->verticalHeader()->hide();
    // Fixed row heights: live rows arriving by the thousand are not measured one by one.
    AlertsView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    AlertsView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = AlertsView->horizontalHeader();
    header->setStretchLastSection(true);
    header->resizeSection(THistoryModel::TimeColumn, 150);
    header->resizeSection(THistoryModel::WindowColumn, 140);
    header->resizeSection(THistoryModel::SymbolColumn, 70);
    header->resizeSection(THistoryModel::PriceColumn, 70);

    CountLabel = Named(new QLabel(this), "CountLabel");
    CountLabel->setTextFormat(Qt::PlainText); // file names and the store's messages
    ExportButton = Named(new QPushButton(tr("Export..."), this), "ExportButton");
    DroppedLabel = Named(new QLabel(this), "DroppedLabel");
    DroppedLabel->setTextFormat(Qt::PlainText);
    DroppedLabel->setWordWrap(true);
    DroppedLabel->hide();

    auto* filters = new QHBoxLayout;
    auto* symbolLabel = Named(new QLabel(tr("&Symbol:"), this), "SymbolLabel");
    symbolLabel->setBuddy(SymbolEdit);
    auto* windowLabel = Named(new QLabel(tr("&Window:"), this), "WindowLabel");
    windowLabel->setBuddy(WindowComboBox);
    filters->addWidget(symbolLabel);
    filters->addWidget(SymbolEdit);
    filters->addSpacing(8);
    filters->addWidget(windowLabel);
    filters->addWidget(WindowComboBox, 1);
    filters->addSpacing(8);
    filters->addWidget(FromCheckBox);
    filters->addWidget(FromDateEdit);
    filters->addWidget(ToCheckBox);
    filters->addWidget(ToDateEdit);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CountLabel, 1);
    bottom->addWidget(ExportButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(AlertsView, 1);
    layout->addWidget(DroppedLabel);
    layout->addLayout(bottom);
    resize(720, 420);

    RetryTimer.setSingleShot(true);
    RetryTimer.setInterval(1000);
    connect(&RetryTimer, &QTimer::timeout, this, &TAlertHistoryForm::Reload);
    Model->OnReadError = [this](const EHistoryError& error) {
        ReadFailed(error);
        UpdateCountLabel();
    };

    // Typing a symbol reads once the typing pauses.
    FilterTimer.setSingleShot(true);
    FilterTimer.setInterval(150);
    connect(&FilterTimer, &QTimer::timeout, this, &TAlertHistoryForm::ApplyFilter);
    connect(SymbolEdit, &QLineEdit::textChanged, this, [this] { FilterTimer.start(); });
    connect(WindowComboBox, &QComboBox::activated, this, &TAlertHistoryForm::ApplyFilter);
    connect(FromCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        FromDateEdit->setEnabled(on);
        ApplyFilter();
    });
    connect(ToCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        ToDateEdit->setEnabled(on);
        ApplyFilter();
    });
    connect(FromDateEdit, &QDateEdit::dateChanged, this, &TAlertHistoryForm::ApplyFilter);
    connect(ToDateEdit, &QDateEdit::dateChanged, this, &TAlertHistoryForm::ApplyFilter);
    connect(ExportButton, &QPushButton::clicked, this, &TAlertHistoryForm::ExportButtonClick);
    if (Recorder) {
        connect(Recorder, &TAlertRecorder::AlertsStored, this, &TAlertHistoryForm::AlertsStored);
        connect(Recorder, &TAlertRecorder::AlertsDropped, this,
                &TAlertHistoryForm::UpdateDroppedLabel);
        UpdateDroppedLabel(Recorder->DroppedCount());
    }

    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    JoinWindowRing();
}

THistoryFilter TAlertHistoryForm::CurrentFilter() const {
    THistoryFilter filter;
    filter.SymbolPrefix = SymbolEdit->text().trimmed();
    if (WindowComboBox->currentIndex() > 0)
        filter.Window = WindowComboBox->currentText();
    if (FromCheckBox->isChecked())
        filter.FromMs = DayStartMs(FromDateEdit->date());
    if (ToCheckBox->isChecked())
        filter.ToMs = DayStartMs(ToDateEdit->date().addDays(1)) - 1;
    return filter;
}

bool TAlertHistoryForm::OpenStore() {
    if (Store)
        return true;
    StoreProblem.clear();
    NoFileYet = false;
    const QString path = Recorder ? Recorder->Path() : THistoryStore::DefaultPath();
    // A first start: the file exists once the writer has begun; the rows come with the first
    // alerts it writes (AlertsStored).
    if (!QFileInfo::exists(path)) {
        StoreProblem = tr("No alerts have been kept yet.");
        NoFileYet = true;
        return false;
    }
    try {
        // This thread never waits for a lock: another program holding the file is said, and
        // the window tries again a second later.
        Store = std::make_unique<THistoryStore>(path, THistoryStore::TMode::ReadOnly, 0);
    } catch (const EHistoryError& error) {
        ReadFailed(error);
        return false;
    }
    return true;
}

void TAlertHistoryForm::ReadFailed(const EHistoryError& error) {
    if (THistoryStore::IsBusy(error)) {
        StoreProblem = tr("Another program holds the alert history; trying again...");
        RetryTimer.start();
    } else {
        StoreProblem = error.message();
    }
}

void TAlertHistoryForm::Reload() {
    if (!isVisible())
        return;
    if (!Store)
        OpenStore();
    FillWindowNames();
    ApplyFilter();
}

void TAlertHistoryForm::ApplyFilter() {
    FilterTimer.stop();
    if (!isVisible())
        return;
    ExportText.clear();
    if (!OpenStore()) {
        Model->Reset(nullptr, CurrentFilter());
        Matches = 0;
        UpdateCountLabel();
        return;
    }
    try {
        Model->Reset(Store.get(), CurrentFilter());
    } catch (const EHistoryError& error) {
        Model->Reset(nullptr, CurrentFilter());
        ReadFailed(error);
        Store.reset();
        Matches = 0;
        UpdateCountLabel();
        return;
    }
    StartCount();
}

void TAlertHistoryForm::StartCount() {
    Matches = -1;
    UpdateCountLabel();
    const unsigned generation = ++Generation;
    const QString path = Store->Path();
    const THistoryFilter filter = Model->Filter();
    // The live rows that come in while counting are in the count already or come after it:
    // the count is of the file as the worker finds it, and only alerts above the model's last
    // Id are added to it.
    Workers.start([this, path, filter, generation] {
        qint64 count = -1;
        QString problem;
        try {
            THistoryStore store(path, THistoryStore::TMode::ReadOnly);
            count = store.Count(filter);
        } catch (const EHistoryError& error) {
            problem = error.message();
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, count, problem] {
                if (generation != Generation)
                    return;
                Matches = count < 0 ? 0 : count;
                if (!problem.isEmpty())
                    StoreProblem = problem;
                UpdateCountLabel();
            },
            Qt::QueuedConnection);
    });
}

void TAlertHistoryForm::UpdateCountLabel() {
    QString text;
    if (!StoreProblem.isEmpty())
        text = StoreProblem;
    else if (Matches < 0)
        text = tr("Counting...");
    else if (Matches == 1)
        text = tr("1 alert");
    else
        text = tr("%1 alerts").arg(QLocale().toString(Matches));
    if (!ExportText.isEmpty())
        text += QStringLiteral("    ") + ExportText;
    CountLabel->setText(text);
}

void TAlertHistoryForm::UpdateDroppedLabel(quint64 dropped) {
    // Rows lost without a word would pass for a complete history.
    DroppedLabel->setText(
        tr("%1 alerts of this session are missing here: the history could not write them in "
           "time and dropped the oldest waiting. They showed in their windows.")
            .arg(QLocale().toString(qulonglong(dropped))));
    DroppedLabel->setVisible(dropped > 0);
}

void TAlertHistoryForm::AlertsStored(const std::vector<THistoryAlert>& alerts) {
    if (!isVisible())
        return;
    if (!Store) {
        // The first alerts of a new history: the file is there now, with them in it.
        if (NoFileYet)
            Reload();
        return;
    }
    // A batch holds thousands of alerts from a few windows: each name is looked up once.
    const QString* last = nullptr;
    for (const THistoryAlert& alert : alerts) {
        if (last && *last == alert.Window)
            continue;
        last = &alert.Window;
        if (WindowComboBox->findText(alert.Window, Qt::MatchFixedString | Qt::MatchCaseSensitive) <
            0)
            WindowComboBox->addItem(alert.Window);
    }
    const int added = Model->AddRecorded(alerts);
    // While counting, the worker's answer may or may not hold them; it is taken as it comes.
    if (added > 0 && Matches >= 0) {
        Matches += added;
        UpdateCountLabel();
    }
}

void TAlertHistoryForm::FillWindowNames() {
    const QString current =
        WindowComboBox->currentIndex() > 0 ? WindowComboBox->currentText() : QString();
    WindowComboBox->clear();
    WindowComboBox->addItem(tr("All windows"));
    QStringList names;
    if (Store) {
        try {
            names = Store->WindowNames();
        } catch (const EHistoryError&) {
        }
    }
    if (!current.isEmpty() && !names.contains(current))
        names.append(current);
    WindowComboBox->addItems(names);
    if (!current.isEmpty())
        WindowComboBox->setCurrentIndex(WindowComboBox->findText(current));
}

void TAlertHistoryForm::ExportButtonClick() {
    if (!OpenStore()) {
        UpdateCountLabel();
        return;
    }
    zkPrompts::TFileDialogSpec spec;
    spec.Title = tr("Export Alert History");
    spec.Filter = tr("CSV Files (*.csv)|*.csv");
    spec.DefaultExt = QStringLiteral("csv");
    spec.FileName = QStringLiteral("alert-history.csv");
    spec.OverwritePrompt = true;
    spec.PathMustExist = true;
    spec.NoReadOnlyReturn = true;
    QString fileName;
    if (!zkPrompts::SaveFileName(spec, fileName, this))
        return;
    ExportButton->setEnabled(false);
    ExportText = tr("Exporting...");
    UpdateCountLabel();
    const QString path = Store->Path();
    const THistoryFilter filter = CurrentFilter();
    const std::shared_ptr<std::atomic<bool>> cancel = Cancel;
    Workers.start([this, path, filter, fileName, cancel] {
        qint64 written = 0;
        QString problem;
        try {
            THistoryStore store(path, THistoryStore::TMode::ReadOnly);
            QSaveFile file(fileName);
            if (!file.open(QIODevice::WriteOnly))
                throw EHistoryError(file.errorString());
            file.write(HistoryCsvHeader());
            store.ForEach(filter, [&](const THistoryAlert& alert) {
                file.write(HistoryCsvLine(alert));
                ++written;
                return !cancel->load();
            });
            if (cancel->load())
                file.cancelWriting();
            else if (!file.commit())
                throw EHistoryError(file.errorString());
        } catch (const EHistoryError& error) {
            problem = error.message();
        }
        QMetaObject::invokeMethod(
            this,
            [this, written, problem, fileName] {
                ExportButton->setEnabled(true);
                if (problem.isEmpty()) {
                    const QString name = QFileInfo(fileName).fileName();
                    ExportText =
                        written == 1
                            ? tr("1 alert exported to %1").arg(name)
                            : tr("%1 alerts exported to %2").arg(QLocale().toString(written), name);
                } else {
                    ExportText.clear();
                    zkPrompts::MessageBox(tr("The alert history could not be exported to %1: %2")
                                              .arg(fileName, problem),
                                          windowTitle(), zkPrompts::TIcon::Error,
                                          zkPrompts::TButtons::OK);
                }
                UpdateCountLabel();
            },
            Qt::QueuedConnection);
    });
}

void TAlertHistoryForm::WaitForWork() {
    Workers.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

void TAlertHistoryForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() && Store)
        return; // back from minimised: the rows are there
    // Each time it is opened: the names and rows as they are now.
    Reload();
}

void TAlertHistoryForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return; // minimised: the rows stay
    ++Generation;
    RetryTimer.stop();
    Model->Clear();
    Store.reset();
}

void TAlertHistoryForm::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void TAlertHistoryForm::keyReleaseEvent(QKeyEvent* event) {
    if (!HandleRingKeys(event))
        QWidget::keyReleaseEvent(event);
}

bool TAlertHistoryForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && HandleRingKeys(static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}
