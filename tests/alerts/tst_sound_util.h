#pragma once

// Wave files for the sound tests, written and read back with libsndfile.
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sndfile.h>

#include <functional>
#include <vector>

struct TWave {
    int SampleRate = 0;
    int Channels = 0;
    std::vector<int16_t> Samples; // interleaved
    qsizetype frames() const { return Channels ? qsizetype(Samples.size()) / Channels : 0; }
};

// Writes frames 16-bit PCM; sample(frame, channel) gives each value.
inline bool WriteWave(const QString& path, int channels, int frames,
                      const std::function<int16_t(int, int)>& sample, int rate = 8000,
                      int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<int16_t> data(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[size_t(i * channels + c)] = sample(i, c);
    const bool ok = sf_writef_short(f, data.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

inline TWave ReadWave(const QString& path) {
    TWave wave;
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return wave;
    wave.SampleRate = info.samplerate;
    wave.Channels = info.channels;
    wave.Samples.resize(size_t(info.frames) * size_t(info.channels));
    sf_readf_short(f, wave.Samples.data(), info.frames);
    sf_close(f);
    return wave;
}

// The numbered files the capture folder holds, in order.
inline QStringList CaptureFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("*.wav"), QStringLiteral("*.beep")}, QDir::Files,
                               QDir::Name);
}

// Sets an environment variable for one scope.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const QByteArray& value) : Name(name), Old(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~TScopedEnv() {
        if (Old.isNull())
            qunsetenv(Name);
        else
            qputenv(Name, Old);
    }

private:
    const char* Name;
    QByteArray Old;
};
