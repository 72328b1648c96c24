// Whole-process tests of the terminate request (SIGTERM or "terminate" on the activation
// socket) while a dialog opened from a menu is up: the client saves its layout and ends with
// exit code 0, whatever dialog is open.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "platform/zkInstance.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QtTest>

#include <csignal>

class TTerminateE2ETest : public QObject {
    Q_OBJECT
private slots:
    void terminateWhileADialogIsOpen_data();
    void terminateWhileADialogIsOpen();
    void terminateThatCannotSaveStillEnds();
};

void TTerminateE2ETest::terminateWhileADialogIsOpen_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("dialog"); // the class of the modal window the item opens
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("About, SIGTERM") << "AboutMenuItem"
                                    << "TAboutForm" << true;
    QTest::newRow("About, terminate") << "AboutMenuItem"
                                      << "TAboutForm" << false;
    QTest::newRow("Options, SIGTERM") << "OptionsMenuItem"
                                      << "TOptionsForm" << true;
    QTest::newRow("Options, terminate") << "OptionsMenuItem"
                                        << "TOptionsForm" << false;
    QTest::newRow("file dialog, SIGTERM") << "LoadAlertWindowMenuItem"
                                          << "QFileDialog" << true;
    QTest::newRow("file dialog, terminate") << "LoadAlertWindowMenuItem"
                                            << "QFileDialog" << false;
    // Ctrl+C in the terminal that started the client: as SIGTERM.
    QTest::newRow("Options, SIGINT") << "OptionsMenuItem"
                                     << "TOptionsForm" << true;
}

void TTerminateE2ETest::terminateWhileADialogIsOpen() {
    QFETCH(QString, item);
    QFETCH(QString, dialog);
    QFETCH(bool, bySignal);
    TWholeProcessHarness h;
    const QString file = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    StoreDeskChoices(file, false);

    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), item);
    // Freed memory is scribbled over, so a use after free shows as a crash.
    env.insert(QStringLiteral("MALLOC_PERTURB_"), QStringLiteral("165"));
    // Real dialogs, with their own event loops.
    TClientRun& run = h.startClient({}, env, {"VELQUIST_SCRIPTED_PROMPTS"});
    QVERIFY(run.waitStarted());
    const QByteArray running = "velquist test: " + item.toLatin1() + " running, modal ";
    run.waitForStdErr(running);
    const QByteArray err = run.stdErr();
    QVERIFY2(err.contains(running + dialog.toLatin1()), err.constData());

    if (bySignal && QByteArray(QTest::currentDataTag()).endsWith("SIGINT"))
        ::kill(pid_t(run.process().processId()), SIGINT);
    else if (bySignal)
        run.terminate();
    else
        QVERIFY(TInstanceGuard::SendCommand(TInstanceGuard::LockName(h.installDir()), "terminate"));
    QVERIFY(run.waitFinished());
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
             qPrintable(QStringLiteral("exit %1\n").arg(run.exitCode()) +
                        QString::fromLocal8Bit(run.stdErr())));
    // The layout was saved without a question.
    zkIni::ClearCache();
    QCOMPARE(ReadIntegerValue(TSettingsStore::IniFile(file), LayoutKeyPath(),
                              QStringLiteral("AlertCount"), -1),
             0);
}

// The layout's folder is gone: the terminate still ends the program, without a box nobody
// may answer, and says on stderr and in the exit code what it could not save.
void TTerminateE2ETest::terminateThatCannotSaveStillEnds() {
    TWholeProcessHarness h;
    const QString file = h.installDir() + QStringLiteral("/gone/desk.zkl");
    StoreDeskChoices(file, false);

    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), QStringLiteral("AboutMenuItem"));
    TClientRun& run = h.startClient({}, env, {"VELQUIST_SCRIPTED_PROMPTS"});
    QVERIFY(run.waitStarted());
    QVERIFY2(run.waitForStdErr("running, modal"), run.stdErr().constData());

    run.terminate();
    QVERIFY2(run.waitFinished(15000), "the client kept running after SIGTERM");
    const QByteArray err = run.stdErr();
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == 1, err.constData());
    QVERIFY2(err.contains("Unable to write to"), err.constData());
    QVERIFY(!QFileInfo::exists(file));
}

QTEST_MAIN(TTerminateE2ETest)
#include "tst_terminate_e2e.moc"
