#include "alerts/zkAlertActions.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundSetupForm.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "tst_sound_util.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
// A private installation folder as the current directory, a capture folder as the one sound
// device and scripted prompts.
struct TFixture {
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir = QDir::currentPath();
    TScopedEnv Capture{"VELQUIST_AUDIO_OUT", (Install.path() + "/out").toLocal8Bit()};

    TFixture() {
        QDir::setCurrent(Install.path());
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
    }
    ~TFixture() { QDir::setCurrent(OldDir); }
    QString sounds() const { return Install.path() + "/Sounds"; }
    QString out() const { return Install.path() + "/out"; }
    QString makeWave(const QString& path) const {
        QDir().mkpath(QFileInfo(path).absolutePath());
        WriteWave(path, 2, 100, [](int, int) { return int16_t(4000); });
        return path;
    }
};

// Runs the dialog modally with the given setup; inside, `during` acts on it and closes it.
QString RunDialog(TSoundSetupForm& form, const QString& setup, const std::function<void()>& during,
                  bool* accepted = nullptr) {
    form.SetSetupText(setup);
    // A failed check leaves `during` early; the dialog is closed anyway so the test goes on.
    QTimer::singleShot(0, &form, [&] {
        during();
        if (form.isVisible())
            form.reject();
    });
    const int result = form.exec();
    if (accepted)
        *accepted = result == QDialog::Accepted;
    return result == QDialog::Accepted ? form.GetSetupText() : QString();
}
} // namespace

class TSoundSetupFormTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheSetupAndReturnsItUnchanged();
    void bareNameIsLookedUpInSoundsFolder();
    void defaultWordIsExact();
    void missingFileBecomesDefaultEvenOnCancel();
    void barsSnapToMultiplesOfFive_data();
    void barsSnapToMultiplesOfFive();
    void volumeBarRunsDownwards();
    void selectSoundUsesTheSoundsFolder();
    void playWaitsForTheAlertSoundThenPreviews();
    void soundsSuspendedFromShowToClose();
    void closingDuringAPreviewHoldsAlertSoundsBack();
    void builtOnFirstUseOnly();
};

void TSoundSetupFormTest::builtOnFirstUseOnly() {
    QVERIFY(!SoundSetupForm());
    // Without a maker there is no dialog to open.
    QVERIFY(!EnsureSoundSetupForm());
    QWidget owner;
    int built = 0;
    SetSoundSetupFormMaker([&] {
        ++built;
        return new TSoundSetupForm(&owner);
    });
    TSoundSetupForm* first = EnsureSoundSetupForm();
    QVERIFY(first);
    QCOMPARE(SoundSetupForm(), first);
    QCOMPARE(EnsureSoundSetupForm(), first);
    QCOMPARE(built, 1);
    // Gone with its owner; the next use builds a new one.
    delete first;
    QVERIFY(!SoundSetupForm());
    QVERIFY(EnsureSoundSetupForm());
    QCOMPARE(built, 2);
    SetSoundSetupFormMaker(nullptr);
}

void TSoundSetupFormTest::showsTheSetupAndReturnsItUnchanged() {
    TFixture fx;
    TSoundSetupForm form;
    QCOMPARE(SoundSetupForm(), &form);
    const QString file = fx.makeWave(fx.Install.path() + "/S/a.wav");
    const QString setup = file + ",80,30";
    bool accepted = false;
    const QString result = RunDialog(
        form, setup,
        [&] {
            QCOMPARE(form.FileNameEdit->text(), file);
            QCOMPARE(form.VolumeTrackBar->value(), 20);
            QCOMPARE(form.BalanceTrackBar->value(), 30);
            form.OKButton->click();
        },
        &accepted);
    QVERIFY(accepted);
    QCOMPARE(result, setup);

    // Volume and balance the user set come back; a bad volume in the old text shows as 50.
    const QString changed = RunDialog(form, file + ",abc,70", [&] {
        QCOMPARE(form.VolumeTrackBar->value(), 50);
        QCOMPARE(form.BalanceTrackBar->value(), 70);
        form.VolumeTrackBar->setValue(10);
        form.BalanceTrackBar->setValue(0);
        form.OKButton->click();
    });
    QCOMPARE(changed, file + ",90,0");
}

void TSoundSetupFormTest::bareNameIsLookedUpInSoundsFolder() {
    TFixture fx;
    TSoundSetupForm form;
    fx.makeWave(fx.sounds() + "/ding.wav");
    const QString found = RunDialog(form, "", [&] {
        QCOMPARE(form.FileNameEdit->text(), QString("<Default>"));
        form.FileNameEdit->setText("ding.wav");
        form.OKButton->click();
    });
    QCOMPARE(found, QDir::currentPath() + "/Sounds/ding.wav,50,50");

    const QString missing = RunDialog(form, "", [&] {
        form.FileNameEdit->setText("dong.wav");
        form.OKButton->click();
    });
    QCOMPARE(missing, QString("<Default>"));
    QCOMPARE(form.FileNameEdit->text(), QString("<Default>"));

    // A name with a folder is taken as it is, never looked up in the sounds folder.
    const QString relative = RunDialog(form, "", [&] {
        form.FileNameEdit->setText("elsewhere/ding.wav");
        form.OKButton->click();
    });
    QCOMPARE(relative, QString("<Default>"));
}

void TSoundSetupFormTest::defaultWordIsExact() {
    TFixture fx;
    TSoundSetupForm form;
    const QString result = RunDialog(form, "<Default>", [&] {
        form.VolumeTrackBar->setValue(0);
        form.BalanceTrackBar->setValue(100);
        form.OKButton->click();
    });
    QCOMPARE(result, QString("<Default>"));

    // In lower case it is a file name, which does not exist.
    const QString lower = RunDialog(form, "", [&] {
        form.FileNameEdit->setText("<default>");
        form.OKButton->click();
    });
    QCOMPARE(lower, QString("<Default>"));
    // Blanks round the word still mean the beep.
    const QString padded = RunDialog(form, "", [&] {
        form.FileNameEdit->setText(" <Default> ");
        form.OKButton->click();
    });
    QCOMPARE(padded, QString("<Default>"));
    QVERIFY(!QFileInfo::exists(fx.sounds() + "/ <Default> "));
}

void TSoundSetupFormTest::missingFileBecomesDefaultEvenOnCancel() {
    TFixture fx;
    TSoundSetupForm form;
    bool accepted = true;
    RunDialog(
        form, "/gone/old.wav,80,30",
        [&] {
            QCOMPARE(form.FileNameEdit->text(), QString("/gone/old.wav"));
            form.CancelButton->click();
        },
        &accepted);
    QVERIFY(!accepted);
    QCOMPARE(form.FileNameEdit->text(), QString("<Default>"));
    QCOMPARE(form.GetSetupText(), QString("<Default>"));
}

void TSoundSetupFormTest::barsSnapToMultiplesOfFive_data() {
    QTest::addColumn<int>("dragged");
    QTest::addColumn<int>("rests");
    QTest::newRow("45") << 45 << 45;
    QTest::newRow("46") << 46 << 45;
    QTest::newRow("47") << 47 << 45;
    QTest::newRow("48") << 48 << 50;
    QTest::newRow("49") << 49 << 50;
    QTest::newRow("1") << 1 << 0;
    QTest::newRow("99") << 99 << 100;
    QTest::newRow("98") << 98 << 100;
    QTest::newRow("97") << 97 << 95;
}

void TSoundSetupFormTest::barsSnapToMultiplesOfFive() {
    QFETCH(int, dragged);
    QFETCH(int, rests);
    TFixture fx;
    TSoundSetupForm form;
    form.BalanceTrackBar->setValue(dragged);
    QCOMPARE(form.BalanceTrackBar->value(), rests);
    form.VolumeTrackBar->setValue(dragged);
    QCOMPARE(form.VolumeTrackBar->value(), rests);
    // A slider drag snaps too.
    form.BalanceTrackBar->setValue(0);
    form.BalanceTrackBar->setSliderDown(true);
    form.BalanceTrackBar->setSliderPosition(dragged);
    form.BalanceTrackBar->setSliderDown(false);
    QCOMPARE(form.BalanceTrackBar->value(), rests);
}

void TSoundSetupFormTest::volumeBarRunsDownwards() {
    TFixture fx;
    TSoundSetupForm form;
    const QString file = fx.makeWave(fx.sounds() + "/a.wav");
    form.SetSetupText(file + ",100,50");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.VolumeTrackBar->value(), 0);
    // Position 0 (full volume) is drawn at the top, and Up keeps moving towards it.
    QVERIFY(form.VolumeTrackBar->invertedAppearance());
    form.VolumeTrackBar->setValue(50);
    form.VolumeTrackBar->setFocus();
    QTest::keyClick(form.VolumeTrackBar, Qt::Key_Up);
    QCOMPARE(form.VolumeTrackBar->value(), 45);
    QCOMPARE(form.GetSetupText(), file + ",55,50");
    form.reject();
}

void TSoundSetupFormTest::selectSoundUsesTheSoundsFolder() {
    TFixture fx;
    TSoundSetupForm form;
    const QString chosen = fx.makeWave(fx.Install.path() + "/picked.wav");
    zkPrompts::SetNextFileName(chosen);
    zkPrompts::SetNextFileName(std::nullopt);
    const QString result = RunDialog(form, "", [&] {
        form.SelectSoundButton->click();
        QCOMPARE(form.FileNameEdit->text(), chosen);
        form.SelectSoundButton->click(); // cancelled: the choice stays
        QCOMPARE(form.FileNameEdit->text(), chosen);
        form.OKButton->click();
    });
    QCOMPARE(result, chosen + ",50,50");
    QVERIFY(QFileInfo(fx.sounds()).isDir());
    const QList<zkPrompts::TPromptRecord> shown = zkPrompts::Shown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].Kind, QString("open"));
    QCOMPARE(shown[0].File.Filter, QString("Sounds (*.wav)|*.wav"));
    QCOMPARE(shown[0].File.DefaultExt, QString("wav"));
    QCOMPARE(shown[0].File.InitialDir, fx.sounds());
    QVERIFY(shown[0].File.FileMustExist);
    QCOMPARE(QDir::currentPath(), fx.Install.path());
}

void TSoundSetupFormTest::playWaitsForTheAlertSoundThenPreviews() {
    TFixture fx;
    TSoundPlayForm player;
    TSoundSetupForm form;
    const QString alert = fx.makeWave(fx.Install.path() + "/alert.wav");
    fx.makeWave(fx.sounds() + "/ding.wav");
    player.Enqueue(alert + ",100,50");
    player.StartNextSound();
    QVERIFY(player.Busy());
    bool busyAtPreview = true;
    RunDialog(form, "", [&] {
        form.FileNameEdit->setText("ding.wav");
        form.VolumeTrackBar->setValue(50);
        form.BalanceTrackBar->setValue(0);
        form.PlayButton->click();
        busyAtPreview = player.Busy();
        QVERIFY(form.PlayButton->isEnabled());
        QCOMPARE(form.FileNameEdit->text(), fx.sounds() + "/ding.wav");
        form.OKButton->click();
    });
    QVERIFY(!busyAtPreview);
    QCOMPARE(CaptureFiles(fx.out()), QStringList({"0001.wav", "0002.wav"}));
    const TWave preview = ReadWave(fx.out() + "/0002.wav");
    QCOMPARE(preview.Samples.at(0), int16_t(4000 * 32750 / 65535));
    QCOMPARE(preview.Samples.at(1), int16_t(0));

    // A missing file previews as the beep.
    RunDialog(form, "/gone.wav,80,50", [&] {
        form.PlayButton->click();
        QCOMPARE(form.FileNameEdit->text(), QString("<Default>"));
        form.CancelButton->click();
    });
    QCOMPARE(CaptureFiles(fx.out()).last(), QString("0003.beep"));
}

void TSoundSetupFormTest::soundsSuspendedFromShowToClose() {
    TFixture fx;
    TUserStore::ResetInstance();
    SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
    auto factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory scope(factory);
    {
        TZentrikProMainForm main;
        TSoundSetupForm form(&main, &main);
        QVERIFY(!main.SoundsSuspended);
        bool during = false;
        RunDialog(form, "", [&] {
            during = main.SoundsSuspended;
            form.OKButton->click();
        });
        QVERIFY(during);
        QVERIFY(!main.SoundsSuspended);

        // Closed from the title bar (Escape) as well.
        during = false;
        RunDialog(form, "", [&] {
            during = main.SoundsSuspended;
            QTest::keyClick(&form, Qt::Key_Escape);
        });
        QVERIFY(during);
        QVERIFY(!main.SoundsSuspended);
    }
    TUserStore::ResetInstance();
    // Without a main window the dialog still works.
    TSoundSetupForm lone;
    QCOMPARE(RunDialog(lone, "", [&] { lone.OKButton->click(); }), QString("<Default>"));
}

void TSoundSetupFormTest::closingDuringAPreviewHoldsAlertSoundsBack() {
    TFixture fx;
    TUserStore::ResetInstance();
    SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
    auto factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory scope(factory);
    TZentrikProMainForm main;
    TSoundPlayForm player;
    TSoundSetupForm form(&main, &main);
    const QString alert = fx.makeWave(fx.Install.path() + "/alert.wav");
    QDir().mkpath(fx.sounds());
    // 0.6 s at 8000 frames a second.
    QVERIFY(WriteWave(fx.sounds() + "/long.wav", 2, 4800, [](int, int) { return int16_t(900); }));
    bool busyDuringPreview = false;
    qint64 previewTook = 0;
    RunDialog(form, "", [&] {
        form.FileNameEdit->setText("long.wav");
        // While the preview plays, the dialog closes, an alert queues its sound and the idle
        // step runs.
        QTimer::singleShot(100, &form, [&] {
            form.reject();
            player.Enqueue(alert + ",100,50");
        });
        QTimer::singleShot(300, &form, [&] {
            ProcessPendingActions(main);
            busyDuringPreview = player.Busy();
        });
        QElapsedTimer clock;
        clock.start();
        form.PlayButton->click();
        previewTook = clock.elapsed();
    });
    QVERIFY2(previewTook >= 550, qPrintable(QString::number(previewTook)));
    QVERIFY(!busyDuringPreview);
    // Once the preview has ended the alert sound plays.
    QVERIFY(!main.SoundsSuspended);
    ProcessPendingActions(main);
    QVERIFY(player.Busy());
    QTRY_VERIFY(!player.Busy());
    QCOMPARE(CaptureFiles(fx.out()), QStringList({"0001.wav", "0002.wav"}));
    QCOMPARE(ReadWave(fx.out() + "/0002.wav").frames(), 100);
}

QTEST_MAIN(TSoundSetupFormTest)
#include "tst_sound_setup_form.moc"
