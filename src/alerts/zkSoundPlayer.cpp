#include "zkSoundPlayer.h"

#include "zkSoundSetup.h"

#include "desktop/zkPulseAudio.h"
#include "platform/zkSndfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QThreadPool>
#include <QtEndian>

#include <memory>
#include <vector>

namespace {

constexpr sf_count_t BlockFrames = 4096;

QMutex BeepLock;
std::function<void()>& BeepFunction() {
    static std::function<void()> beep;
    return beep;
}

bool Stopped(const std::atomic_bool* stop) {
    return stop && stop->load();
}

// --- wave file check ---------------------------------------------------------------------------

// A wave file that promises more sample data than it holds was cut short (an aborted copy or
// download); it is refused like any other file that is not a wave file. Sizes of 0 and
// 0xFFFFFFFF mean "unknown" to streaming writers and are let through.
bool LooksLikeCompleteWave(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && WaveLooksComplete(file);
}

} // namespace

bool WaveLooksComplete(QIODevice& file) {
    const qint64 fileSize = file.size();
    const QByteArray head = file.read(12);
    if (head.size() < 12 || head.mid(8, 4) != "WAVE")
        return false;
    const QByteArray riff = head.left(4);
    if (riff == "RF64")
        return true; // 64-bit sizes live in the ds64 chunk; the decoder checks those
    if (riff != "RIFF" && riff != "RIFX")
        return false;
    const bool bigEndian = riff == "RIFX";
    qint64 pos = 12;
    for (int chunks = 0; chunks < 4096; ++chunks) {
        if (!file.seek(pos))
            return false;
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            return false; // no data chunk before the end
        const auto* sizeBytes = reinterpret_cast<const uchar*>(header.constData() + 4);
        const quint32 size =
            bigEndian ? qFromBigEndian<quint32>(sizeBytes) : qFromLittleEndian<quint32>(sizeBytes);
        pos += 8;
        if (header.left(4) == "data")
            return size == 0 || size == 0xFFFFFFFFu || pos + qint64(size) <= fileSize;
        pos += qint64(size) + (size & 1);
        if (pos > fileSize)
            return false;
    }
    return false;
}

namespace {

// --- outputs ------------------------------------------------------------------------------------

// Where the prepared stereo 16-bit frames go.
class TFrameOutput {
public:
    virtual ~TFrameOutput() = default;
    virtual bool Start(int sampleRate) = 0;
    virtual bool PlayFrames(const int16_t* frames, sf_count_t count,
                            const std::atomic_bool* stop) = 0;
    // Waits until everything written has been heard (or stored).
    virtual bool Finish(const std::atomic_bool* stop) = 0;
};

// Sleeps until the clock has run ms milliseconds, or until asked to stop.
void WaitUntil(const QElapsedTimer& clock, qint64 ms, const std::atomic_bool* stop) {
    while (!Stopped(stop)) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return;
        QThread::msleep(ulong(qMin<qint64>(left, 10)));
    }
}

// The capture folder's numbering: one past the highest NNNN.wav or NNNN.beep already there.
QMutex CaptureLock;

QString NextCaptureName(const QString& dir, const QString& suffix) {
    static const QRegularExpression numbered(QStringLiteral("^(\\d+)\\.(wav|beep)$"));
    QDir().mkpath(dir);
    qint64 highest = 0;
    const QStringList names = QDir(dir).entryList(QDir::Files);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = numbered.match(name);
        if (m.hasMatch())
            highest = qMax(highest, m.captured(1).toLongLong());
    }
    return dir + QLatin1Char('/') + QStringLiteral("%1").arg(highest + 1, 4, 10, QLatin1Char('0')) +
           suffix;
}

// Writes the frames to the capture folder. The file appears under its number only when it is
// complete, so a reader never sees half a sound.
class TCaptureOutput final : public TFrameOutput {
public:
    explicit TCaptureOutput(QString dir) : Dir(std::move(dir)) {}
    ~TCaptureOutput() override {
        if (File)
            Api->sf_close(File);
        if (!TempName.isEmpty())
            QFile::remove(TempName);
    }
    bool Start(int sampleRate) override {
        Api = Sndfile();
        if (!Api)
            return false;
        SampleRate = sampleRate;
        Clock.start();
        QDir().mkpath(Dir);
        TempName = Dir + QStringLiteral("/.capture-%1.part").arg(quintptr(this), 0, 16);
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        File = Api->sf_open(QFile::encodeName(TempName).constData(), SFM_WRITE, &info);
        return File != nullptr;
    }
    bool PlayFrames(const int16_t* frames, sf_count_t count, const std::atomic_bool*) override {
        Frames += count;
        return Api->sf_writef_short(File, frames, count) == count;
    }
    bool Finish(const std::atomic_bool* stop) override {
        // Like a speaker, the folder takes as long as the sound lasts.
        WaitUntil(Clock, Frames * 1000 / SampleRate, stop);
        const bool closed = Api->sf_close(File) == 0;
        File = nullptr;
        if (!closed)
            return false;
        QMutexLocker locker(&CaptureLock);
        if (!QFile::rename(TempName, NextCaptureName(Dir, QStringLiteral(".wav"))))
            return false;
        TempName.clear();
        return true;
    }

private:
    QString Dir;
    QString TempName;
    const TSndfileApi* Api = nullptr;
    SNDFILE* File = nullptr;
    int SampleRate = 1;
    qint64 Frames = 0;
    QElapsedTimer Clock;
};

// Plays the frames through the PulseAudio server, which starts them at once and tells when the
// last has been played (see desktop/zkPulseAudio.h for how).
class TPulseOutput final : public TFrameOutput {
public:
    bool Start(int sampleRate) override {
        Playback = zkPulse::TPlayback::Open(sampleRate);
        return Playback != nullptr;
    }
    bool PlayFrames(const int16_t* frames, sf_count_t count,
                    const std::atomic_bool* stop) override {
        return Playback->Write(frames, int64_t(count), stop);
    }
    bool Finish(const std::atomic_bool* stop) override { return Playback->Finish(stop); }

private:
    std::unique_ptr<zkPulse::TPlayback> Playback;
};

// The speakers: the PulseAudio server, the desktop's sound server (Qt's own audio output goes
// through it too on this platform, so there is nothing else to fall back on).
std::unique_ptr<TFrameOutput> StartSpeakerOutput(int sampleRate) {
    std::unique_ptr<TFrameOutput> output = std::make_unique<TPulseOutput>();
    if (output->Start(sampleRate))
        return output;
    return nullptr;
}

// Decodes the wave file block by block, applies the levels and hands the stereo frames on.
// False when the file cannot be played as a wave file or the output fails.
bool PlayWaveFile(const QString& path, TChannelLevels levels, const std::atomic_bool* stop) {
    if (!LooksLikeCompleteWave(path))
        return false;
    const TSndfileApi* sndfile = Sndfile();
    if (!sndfile)
        return false;
    SF_INFO info{};
    SNDFILE* raw = sndfile->sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!raw)
        return false;
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> sound(raw, sndfile->sf_close);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64) ||
        info.channels <= 0 || info.samplerate <= 0)
        return false;
    // Float samples outside -1..1 clip instead of wrapping round.
    sndfile->sf_command(raw, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    std::unique_ptr<TFrameOutput> output;
    const QString captureDir = AudioOutDir();
    if (captureDir.isEmpty()) {
        output = StartSpeakerOutput(info.samplerate);
    } else {
        output = std::make_unique<TCaptureOutput>(captureDir);
        if (!output->Start(info.samplerate))
            output.reset();
    }
    if (!output)
        return false;

    const int channels = info.channels;
    std::vector<int16_t> in(size_t(BlockFrames) * size_t(channels));
    std::vector<int16_t> out(size_t(BlockFrames) * 2);
    const int32_t left = levels.Left;
    const int32_t right = levels.Right;
    while (!Stopped(stop)) {
        const sf_count_t frames = sndfile->sf_readf_short(raw, in.data(), BlockFrames);
        if (frames <= 0)
            break;
        for (sf_count_t i = 0; i < frames; ++i) {
            // A mono file feeds both speakers; beyond two channels only the front pair is used.
            const int32_t l = in[size_t(i * channels)];
            const int32_t r = channels > 1 ? in[size_t(i * channels + 1)] : l;
            out[size_t(2 * i)] = int16_t(l * left / 65535);
            out[size_t(2 * i + 1)] = int16_t(r * right / 65535);
        }
        if (!output->PlayFrames(out.data(), frames, stop))
            return false;
    }
    return output->Finish(stop);
}

} // namespace

TChannelLevels ChannelLevels(uint16_t volume, uint16_t balance) {
    const uint32_t a = uint16_t(uint32_t(volume) * 655u);
    const uint32_t b = balance;
    TChannelLevels levels;
    if (b == 0) {
        levels.Left = uint16_t(a);
        levels.Right = 0;
    } else if (b <= 50) {
        levels.Left = uint16_t(a);
        levels.Right = uint16_t((a / (100 - b)) * b);
    } else if (b < 100) {
        levels.Left = uint16_t((a / b) * (100 - b));
        levels.Right = uint16_t(a);
    } else if (b == 100) {
        levels.Left = 0;
        levels.Right = uint16_t(a);
    } else {
        levels.Left = uint16_t(a);
        levels.Right = uint16_t(a);
    }
    return levels;
}

QString AudioOutDir() {
    return qEnvironmentVariable("VELQUIST_AUDIO_OUT");
}

int WaveOutDeviceCount() {
    if (!AudioOutDir().isEmpty())
        return 1;
    return zkPulse::OutputCount();
}

void PrepareSoundOutput() {
    // Loading the libraries takes a few milliseconds the user-interface thread need not wait.
    QThreadPool::globalInstance()->start([capture = !AudioOutDir().isEmpty()] {
        Sndfile();
        if (!capture)
            zkPulse::Prepare();
    });
}

bool HasSoundDevice() {
    return WaveOutDeviceCount() > 0;
}

void SetBeepFunction(std::function<void()> beep) {
    QMutexLocker locker(&BeepLock);
    BeepFunction() = std::move(beep);
}

void SystemBeep() {
    const QString captureDir = AudioOutDir();
    if (!captureDir.isEmpty()) {
        QMutexLocker locker(&CaptureLock);
        QFile mark(NextCaptureName(captureDir, QStringLiteral(".beep")));
        if (mark.open(QIODevice::WriteOnly))
            mark.close();
        return;
    }
    std::function<void()> beep;
    {
        QMutexLocker locker(&BeepLock);
        beep = BeepFunction();
    }
    if (beep)
        beep();
}

bool PlaySoundSetup(const QString& setupText, const std::atomic_bool* stop) {
    bool result = true;
    bool silent = WaveOutDeviceCount() == 0;
    const TSoundSetup setup = ParseSoundSetup(setupText);
    EnsureSoundsDir();
    if (setup.FileName == DefaultSoundName || !QFileInfo(setup.FileName).isFile())
        silent = true;
    if (silent) {
        SystemBeep();
        return true;
    }
    try {
        result = PlayWaveFile(setup.FileName, ChannelLevels(setup.Volume, setup.Balance), stop);
        // What cannot be played sounds as the standard beep, so an alert is never silent.
        if (!result)
            SystemBeep();
    } catch (...) {
        // This runs on the worker thread, where nothing may escape; the user still hears that
        // something happened.
        SystemBeep();
    }
    return result;
}

TSoundPlayThread::TSoundPlayThread(QString setup, QObject* parent)
    : QThread(parent), SetupText(std::move(setup)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TSoundPlayThread::run() {
    if (!Terminated)
        PlaySoundSetup(SetupText, &Terminated);
}
