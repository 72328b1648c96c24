#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundQueue.h"
#include "tst_sound_util.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Waits for the sound thread's capture file without handling any event, so the thread's end
// cannot have been delivered yet.
bool WaitForFiles(const QString& dir, int count) {
    QDeadlineTimer deadline(10000);
    while (CaptureFiles(dir).size() < count && !deadline.hasExpired())
        QThread::msleep(5);
    return CaptureFiles(dir).size() >= count;
}
} // namespace

class TSoundPlayFormTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hiddenWindowAndItsAccessor();
    void madeWhenFirstAskedForAndAgainOnceGone();
    void endIsDeliveredOnTheUserInterfaceThread();
    void tenAlertsPlayOnce();
    void enqueuedWhilePlayingPlaysAgain();
    void longestAgoFirstThroughThePlayer();
    void destroyingEmptiesTheQueue();

private:
    QString out() const { return Work->path() + "/out"; }
    QString wave(const QString& name, int16_t level) {
        const QString path = Work->path() + "/" + name;
        WriteWave(path, 2, 200, [level](int, int) { return level; });
        return path + ",100,50";
    }
    // The first sample of each capture, in playing order, tells which setup played.
    QList<int16_t> firstSamples() const {
        QList<int16_t> samples;
        for (const QString& f : CaptureFiles(out()))
            samples << ReadWave(out() + "/" + f).Samples.at(0);
        return samples;
    }
    // Plays until the queue has nothing left.
    void drain(TSoundPlayForm& form) {
        for (int i = 0; i < 50; ++i) {
            form.StartNextSound();
            if (!form.Busy())
                return;
            QTRY_VERIFY(!form.Busy());
        }
    }

    std::unique_ptr<QTemporaryDir> Work;
    std::unique_ptr<TScopedEnv> Capture;
    QString OldDir;
};

void TSoundPlayFormTest::init() {
    Work = std::make_unique<QTemporaryDir>();
    OldDir = QDir::currentPath();
    QDir::setCurrent(Work->path());
    Capture = std::make_unique<TScopedEnv>("VELQUIST_AUDIO_OUT", out().toLocal8Bit());
}

void TSoundPlayFormTest::cleanup() {
    Capture.reset();
    QDir::setCurrent(OldDir);
    Work.reset();
}

void TSoundPlayFormTest::hiddenWindowAndItsAccessor() {
    QWidget main;
    QCOMPARE(SoundPlayForm(), nullptr);
    {
        auto* form = new TSoundPlayForm(&main);
        QCOMPARE(SoundPlayForm(), form);
        QVERIFY(form->isWindow());
        main.show();
        QVERIFY(!form->isVisible());
        QVERIFY(!form->Busy());
        delete form;
    }
    QCOMPARE(SoundPlayForm(), nullptr);
}

void TSoundPlayFormTest::madeWhenFirstAskedForAndAgainOnceGone() {
    QWidget main;
    int made = 0;
    SetSoundPlayFormMaker([&] {
        ++made;
        return new TSoundPlayForm(&main);
    });
    const auto noMaker = qScopeGuard([] { SetSoundPlayFormMaker({}); });
    TSoundPlayForm* form = SoundPlayForm();
    QVERIFY(form);
    QCOMPARE(form->parentWidget(), &main);
    QCOMPARE(SoundPlayForm(), form);
    QCOMPARE(made, 1);
    delete form;
    QVERIFY(SoundPlayForm());
    QCOMPARE(made, 2);
    SetSoundPlayFormMaker({});
    delete SoundPlayForm();
    QCOMPARE(SoundPlayForm(), nullptr);
}

void TSoundPlayFormTest::endIsDeliveredOnTheUserInterfaceThread() {
    TSoundPlayForm form;
    QSignalSpy ended(&form, &TSoundPlayForm::SoundEnded);
    form.StartNextSound(); // nothing waits
    QVERIFY(!form.Busy());

    form.Enqueue(wave("a.wav", 1000));
    form.StartNextSound();
    QVERIFY(form.Busy());
    QVERIFY(WaitForFiles(out(), 1));
    // The thread has played, but until this thread handles its end the player stays busy and
    // starts nothing else.
    QThread::msleep(50);
    QVERIFY(form.Busy());
    form.Enqueue("<Default>");
    form.StartNextSound();
    QCOMPARE(CaptureFiles(out()).size(), 1);
    QTRY_VERIFY(!form.Busy());
    QCOMPARE(ended.size(), 1);
    form.StartNextSound();
    QVERIFY(form.Busy());
    QTRY_VERIFY(!form.Busy());
    QCOMPARE(CaptureFiles(out()), QStringList({"0001.wav", "0002.beep"}));
}

void TSoundPlayFormTest::tenAlertsPlayOnce() {
    TSoundPlayForm form;
    const QString setup = wave("a.wav", 1000);
    for (int i = 0; i < 10; ++i)
        form.Enqueue(setup);
    drain(form);
    QCOMPARE(CaptureFiles(out()), QStringList({"0001.wav"}));
    QCOMPARE(form.SoundQueue().Count(), 1);
}

void TSoundPlayFormTest::enqueuedWhilePlayingPlaysAgain() {
    TSoundPlayForm form;
    const QString setup = wave("a.wav", 1000);
    form.Enqueue(setup);
    form.StartNextSound();
    QVERIFY(form.Busy());
    form.Enqueue(setup);
    QTRY_VERIFY(!form.Busy());
    drain(form);
    QCOMPARE(CaptureFiles(out()), QStringList({"0001.wav", "0002.wav"}));
}

void TSoundPlayFormTest::longestAgoFirstThroughThePlayer() {
    TSoundPlayForm form;
    const QString a = wave("a.wav", 1000), b = wave("b.wav", 2000), c = wave("c.wav", 3000);
    form.Enqueue(a);
    drain(form);
    QTest::qWait(5); // a later clock reading for b
    form.Enqueue(b);
    drain(form);
    // b was played after a; c was never played, so c, then a, then b.
    form.Enqueue(b);
    form.Enqueue(a);
    form.Enqueue(c);
    drain(form);
    const auto heard = [](int level) { return int16_t(level * 65500 / 65535); };
    QCOMPARE(firstSamples(),
             QList<int16_t>({heard(1000), heard(2000), heard(3000), heard(1000), heard(2000)}));
}

void TSoundPlayFormTest::destroyingEmptiesTheQueue() {
    // Destroying the window while a sound plays waits for the thread; nothing is left running.
    const QString setup = wave("a.wav", 1000);
    {
        TSoundPlayForm form;
        form.Enqueue(setup);
        form.Enqueue("<Default>");
        form.StartNextSound();
        QVERIFY(form.Busy());
    }
    QCOMPARE(SoundPlayForm(), nullptr);
    QTest::qWait(20); // a late end must not reach the destroyed window
    QVERIFY(CaptureFiles(out()).size() <= 1);
}

QTEST_MAIN(TSoundPlayFormTest)
#include "tst_sound_play_form.moc"
