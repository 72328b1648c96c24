#include "alerts/zkSoundPlayer.h"
#include "alerts/zkSoundSetup.h"
#include "tst_sound_util.h"
#include "zkTestSupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include <unistd.h>

class TSoundPlayerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void channelLevels_data();
    void channelLevels();
    void parseSetupText_data();
    void parseSetupText();
    void formatSetupText();

    void playAppliesLevelsToEachChannel_data();
    void playAppliesLevelsToEachChannel();
    void monoFeedsBothSpeakers();
    void longFileStreamsEveryFrame();
    void beepFallbacks_data();
    void beepFallbacks();
    void unreadableFileBeeps();
    void captureNumbersContinue();
    void playCreatesSoundsFolder();
    void noDeviceBeepsForEverySound();
    void captureLastsAsLongAsTheSound();

private:
    QString wav(const QString& name) const { return Work->path() + "/" + name; }
    QString out() const { return Work->path() + "/out"; }

    std::unique_ptr<QTemporaryDir> Work;
    std::unique_ptr<TScopedEnv> Capture;
    QString OldDir;
};

void TSoundPlayerTest::init() {
    Work = std::make_unique<QTemporaryDir>();
    OldDir = QDir::currentPath();
    QDir::setCurrent(Work->path());
    Capture = std::make_unique<TScopedEnv>("VELQUIST_AUDIO_OUT", out().toLocal8Bit());
}

void TSoundPlayerTest::cleanup() {
    Capture.reset();
    QDir::setCurrent(OldDir);
    Work.reset();
}

void TSoundPlayerTest::channelLevels_data() {
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("balance");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::newRow("full, centred") << 100 << 50 << 65500 << 65500;
    QTest::newRow("half, centred") << 50 << 50 << 32750 << 32750;
    QTest::newRow("balance 25") << 100 << 25 << 65500 << 21825;
    QTest::newRow("balance 75") << 100 << 75 << 21825 << 65500;
    QTest::newRow("balance 0, left only") << 100 << 0 << 65500 << 0;
    QTest::newRow("balance 100, right only") << 100 << 100 << 0 << 65500;
    QTest::newRow("balance 1") << 100 << 1 << 65500 << 661;
    QTest::newRow("balance 51") << 100 << 51 << 62916 << 65500;
    QTest::newRow("balance 99") << 100 << 99 << 661 << 65500;
    QTest::newRow("balance above 100") << 80 << 101 << 52400 << 52400;
    QTest::newRow("balance far above 100") << 80 << 65535 << 52400 << 52400;
    QTest::newRow("silent") << 0 << 30 << 0 << 0;
    // 101 % of 655 passes 16 bits and wraps: 66155 keeps 619.
    QTest::newRow("volume 101 wraps") << 101 << 50 << 619 << 600;
    QTest::newRow("volume 65535 wraps") << 65535 << 0 << 64881 << 0;
}

void TSoundPlayerTest::channelLevels() {
    QFETCH(int, volume);
    QFETCH(int, balance);
    QFETCH(int, left);
    QFETCH(int, right);
    const TChannelLevels levels = ChannelLevels(uint16_t(volume), uint16_t(balance));
    QCOMPARE(int(levels.Left), left);
    QCOMPARE(int(levels.Right), right);
}

void TSoundPlayerTest::parseSetupText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("balance");
    QTest::newRow("empty") << ""
                           << "<Default>" << 50 << 50;
    QTest::newRow("default") << "<Default>"
                             << "<Default>" << 50 << 50;
    QTest::newRow("full") << "/s/ding.wav,80,30"
                          << "/s/ding.wav" << 80 << 30;
    QTest::newRow("bad volume keeps balance") << "x.wav,abc,30"
                                              << "x.wav" << 50 << 30;
    QTest::newRow("bad balance keeps volume") << "x.wav,70,?"
                                              << "x.wav" << 70 << 50;
    QTest::newRow("name only") << "/s/a.wav"
                               << "/s/a.wav" << 50 << 50;
    QTest::newRow("no balance") << "/s/a.wav,80"
                                << "/s/a.wav" << 80 << 50;
    QTest::newRow("empty volume") << "/s/a.wav,,30"
                                  << "/s/a.wav" << 50 << 30;
    QTest::newRow("extra field ignored") << "a,1,2,3"
                                         << "a" << 1 << 2;
    QTest::newRow("leading blank") << "a, 80,30"
                                   << "a" << 80 << 30;
    QTest::newRow("trailing blank is not a number") << "a,80 ,30"
                                                    << "a" << 50 << 30;
    QTest::newRow("hexadecimal") << "a,$10,0x20"
                                 << "a" << 16 << 32;
    QTest::newRow("low 16 bits kept") << "a,70000,-1"
                                      << "a" << 4464 << 65535;
    QTest::newRow("too big for an integer") << "a,99999999999,5"
                                            << "a" << 50 << 5;
    QTest::newRow("default with numbers is a name") << "<Default>,80,30"
                                                    << "<Default>" << 80 << 30;
    QTest::newRow("default in lower case is a name") << "<default>"
                                                     << "<default>" << 50 << 50;
    QTest::newRow("empty name") << ",80,30"
                                << "" << 80 << 30;
}

void TSoundPlayerTest::parseSetupText() {
    QFETCH(QString, text);
    QFETCH(QString, fileName);
    QFETCH(int, volume);
    QFETCH(int, balance);
    const TSoundSetup setup = ParseSoundSetup(text);
    QCOMPARE(setup.FileName, fileName);
    QCOMPARE(int(setup.Volume), volume);
    QCOMPARE(int(setup.Balance), balance);
}

void TSoundPlayerTest::formatSetupText() {
    QCOMPARE(FormatSoundSetup(TSoundSetup()), QString("<Default>"));
    TSoundSetup setup;
    setup.FileName = "/home/u/Sounds/ding.wav";
    setup.Volume = 80;
    setup.Balance = 30;
    const QString text = FormatSoundSetup(setup);
    QCOMPARE(text, QString("/home/u/Sounds/ding.wav,80,30"));
    const TSoundSetup back = ParseSoundSetup(text);
    QCOMPARE(back.FileName, setup.FileName);
    QCOMPARE(back.Volume, setup.Volume);
    QCOMPARE(back.Balance, setup.Balance);
}

void TSoundPlayerTest::playAppliesLevelsToEachChannel_data() {
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("balance");
    QTest::newRow("full, centred") << 100 << 50;
    QTest::newRow("half, centred") << 50 << 50;
    QTest::newRow("balance 25") << 100 << 25;
    QTest::newRow("balance 75") << 80 << 75;
    QTest::newRow("left only") << 100 << 0;
    QTest::newRow("right only") << 100 << 100;
}

void TSoundPlayerTest::playAppliesLevelsToEachChannel() {
    QFETCH(int, volume);
    QFETCH(int, balance);
    // A square wave, louder on the left than on the right, so swapped channels show.
    const int frames = 1000;
    const auto source = [](int i, int c) {
        const int16_t amplitude = c == 0 ? 20000 : 12000;
        return int16_t((i / 10) % 2 ? amplitude : -amplitude);
    };
    QVERIFY(WriteWave(wav("square.wav"), 2, frames, source, 22050));
    QVERIFY(
        PlaySoundSetup(QStringLiteral("%1,%2,%3").arg(wav("square.wav")).arg(volume).arg(balance)));

    QCOMPARE(CaptureFiles(out()), QStringList({"0001.wav"}));
    const TWave heard = ReadWave(out() + "/0001.wav");
    QCOMPARE(heard.SampleRate, 22050);
    QCOMPARE(heard.Channels, 2);
    QCOMPARE(heard.frames(), frames);
    const TChannelLevels levels = ChannelLevels(uint16_t(volume), uint16_t(balance));
    const int16_t peakLeft = int16_t(20000 * int(levels.Left) / 65535);
    const int16_t peakRight = int16_t(12000 * int(levels.Right) / 65535);
    int wrong = 0;
    for (int i = 0; i < frames; ++i) {
        const int sign = (i / 10) % 2 ? 1 : -1;
        wrong += heard.Samples[size_t(2 * i)] != sign * peakLeft ||
                 heard.Samples[size_t(2 * i + 1)] != sign * peakRight;
    }
    QCOMPARE(wrong, 0);
}

void TSoundPlayerTest::monoFeedsBothSpeakers() {
    QVERIFY(WriteWave(wav("mono.wav"), 1, 500, [](int i, int) { return int16_t(i * 60 - 15000); }));
    QVERIFY(PlaySoundSetup(wav("mono.wav") + ",100,25"));
    const TWave heard = ReadWave(out() + "/0001.wav");
    QCOMPARE(heard.Channels, 2);
    QCOMPARE(heard.frames(), 500);
    for (int i = 0; i < 500; ++i) {
        const int in = i * 60 - 15000;
        QCOMPARE(int(heard.Samples[size_t(2 * i)]), in * 65500 / 65535);
        QCOMPARE(int(heard.Samples[size_t(2 * i + 1)]), in * 21825 / 65535);
    }
}

void TSoundPlayerTest::longFileStreamsEveryFrame() {
    // Several decoding blocks and a short last one: nothing dropped, doubled or reordered.
    const int frames = 3 * 4096 + 123;
    const auto source = [](int i, int c) { return int16_t(c == 0 ? i % 30000 : -(i % 20000)); };
    QVERIFY(WriteWave(wav("long.wav"), 2, frames, source));
    QVERIFY(PlaySoundSetup(wav("long.wav") + ",100,50"));
    const TWave heard = ReadWave(out() + "/0001.wav");
    QCOMPARE(heard.frames(), frames);
    for (int i = 0; i < frames; ++i) {
        if (heard.Samples[size_t(2 * i)] != int16_t(source(i, 0) * 65500 / 65535) ||
            heard.Samples[size_t(2 * i + 1)] != int16_t(source(i, 1) * 65500 / 65535))
            QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i)));
    }
}

void TSoundPlayerTest::beepFallbacks_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("result");
    QTest::newRow("default") << "<Default>" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("missing file") << "@/nothere.wav,80,50" << true;
    QTest::newRow("folder") << "@/folder.wav,80,50" << true;
    QTest::newRow("empty file") << "@/empty.wav,80,50" << false;
    QTest::newRow("not a wave") << "@/text.wav,80,50" << false;
    QTest::newRow("another sound format") << "@/sound.aiff,80,50" << false;
    QTest::newRow("header cut") << "@/header.wav,80,50" << false;
    QTest::newRow("data cut") << "@/cut.wav,80,50" << false;
}

void TSoundPlayerTest::beepFallbacks() {
    QFETCH(QString, setup);
    QFETCH(bool, result);
    QDir().mkpath(wav("folder.wav"));
    WriteTextFile(wav("empty.wav"), QByteArray());
    WriteTextFile(wav("text.wav"), "RIFF? no, just words in a file called .wav\n");
    QVERIFY(WriteWave(
        wav("sound.aiff"), 2, 800, [](int i, int) { return int16_t(i); }, 8000,
        SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
    QVERIFY(WriteWave(wav("good.wav"), 2, 800, [](int i, int) { return int16_t(i); }));
    const QByteArray good = ReadWholeFile(wav("good.wav"));
    WriteTextFile(wav("header.wav"), good.left(20));
    WriteTextFile(wav("cut.wav"), good.left(good.size() - 1000));

    QCOMPARE(PlaySoundSetup(setup.replace("@", Work->path())), result);
    // The beep, and nothing else.
    QCOMPARE(CaptureFiles(out()), QStringList({"0001.beep"}));
    QCOMPARE(QFileInfo(out() + "/0001.beep").size(), 0);
}

void TSoundPlayerTest::unreadableFileBeeps() {
    if (geteuid() == 0)
        QSKIP("root reads every file");
    QVERIFY(WriteWave(wav("locked.wav"), 1, 100, [](int, int) { return int16_t(1000); }));
    QFile::setPermissions(wav("locked.wav"), QFileDevice::WriteOwner);
    QVERIFY(!PlaySoundSetup(wav("locked.wav") + ",80,50"));
    QCOMPARE(CaptureFiles(out()), QStringList({"0001.beep"}));
}

void TSoundPlayerTest::captureNumbersContinue() {
    // A folder that already holds captures goes on after the highest number, beeps and plays
    // sharing one count.
    QDir().mkpath(out());
    WriteTextFile(out() + "/0007.beep", QByteArray());
    WriteTextFile(out() + "/notes.txt", "not a capture");
    QVERIFY(WriteWave(wav("a.wav"), 2, 100, [](int, int) { return int16_t(500); }));
    QVERIFY(PlaySoundSetup(wav("a.wav") + ",100,50"));
    QVERIFY(PlaySoundSetup("<Default>"));
    QVERIFY(PlaySoundSetup(wav("a.wav") + ",10,50"));
    QCOMPARE(CaptureFiles(out()), QStringList({"0007.beep", "0008.wav", "0009.beep", "0010.wav"}));
    QCOMPARE(ReadWave(out() + "/0010.wav").Samples.at(0), int16_t(500 * 6550 / 65535));
    // No half-written files are left behind.
    QCOMPARE(QDir(out()).entryList(QDir::Files | QDir::Hidden).size(), 5);
}

void TSoundPlayerTest::playCreatesSoundsFolder() {
    QVERIFY(!QFileInfo::exists(Work->path() + "/Sounds"));
    QVERIFY(PlaySoundSetup("<Default>"));
    QVERIFY(QFileInfo(Work->path() + "/Sounds").isDir());
    QCOMPARE(SoundsDir(), QDir::currentPath() + "/Sounds");
}

void TSoundPlayerTest::noDeviceBeepsForEverySound() {
    Capture.reset();
    TScopedEnv noCapture("VELQUIST_AUDIO_OUT", QByteArray());
    if (HasSoundDevice())
        QSKIP("this machine has a sound device");
    int beeps = 0;
    SetBeepFunction([&beeps] { ++beeps; });
    QVERIFY(WriteWave(wav("a.wav"), 2, 100, [](int, int) { return int16_t(500); }));
    QVERIFY(PlaySoundSetup(wav("a.wav") + ",100,50"));
    QVERIFY(PlaySoundSetup("<Default>"));
    SetBeepFunction({});
    QCOMPARE(beeps, 2);
    QVERIFY(!QFileInfo::exists(out()));
}

void TSoundPlayerTest::captureLastsAsLongAsTheSound() {
    // Half a second: the capture folder, like a speaker, is busy for that long.
    QVERIFY(WriteWave(wav("half.wav"), 2, 4000, [](int i, int) { return int16_t(i); }));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(PlaySoundSetup(wav("half.wav") + ",100,50"));
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 500 && took < 700, qPrintable(QString::number(took)));
    QCOMPARE(CaptureFiles(out()), QStringList{"0001.wav"});

    // Asked to stop, it ends at once.
    std::atomic_bool stop{true};
    clock.restart();
    PlaySoundSetup(wav("half.wav") + ",100,50", &stop);
    QVERIFY(clock.elapsed() < 300);
}

QTEST_GUILESS_MAIN(TSoundPlayerTest)
#include "tst_sound_player.moc"
