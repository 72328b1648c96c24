#pragma once
// What a PulseAudio sink plays, as a test or benchmark sees it: parec on the sink's monitor,
// each sample placed on the steady clock. Header only, so the benchmarks can use it too.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <sys/prctl.h>

// Nanoseconds on the steady clock, the one the sample times below are on.
inline int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Records the monitor of a sink as 44.1 kHz stereo 16-bit. It asks for the server's default
// latency: a recorder asking for a small one would make the sink itself render in small steps,
// and the sink would no longer be idle. Samples reach the monitor when the sink renders them,
// and arrive here soon after: sample n was rendered at most at the arrival of the block that
// ends with it, less the length of what came after it. A sink that changes how far ahead it
// renders rewinds, and the monitor then repeats what it had already sent, so the clock is
// taken from the blocks that arrived in the seconds after each sample, not from the start.
class TSinkMonitor {
public:
    static constexpr int Rate = 44100;

    ~TSinkMonitor() { stop(); }

    bool start(const QProcessEnvironment& env, const QString& sinkName) {
        Parec.setProcessEnvironment(env);
        // It ends with the test, also when that is killed.
        Parec.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(&Parec, &QProcess::readyReadStandardOutput, [this] { read(); });
        Parec.start(QStringLiteral("parec"),
                    {QStringLiteral("-d"), sinkName + QStringLiteral(".monitor"),
                     QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                     QStringLiteral("--rate=44100"), QStringLiteral("--channels=2")});
        return Parec.waitForStarted();
    }
    void stop() {
        if (Parec.state() == QProcess::NotRunning)
            return;
        Parec.kill();
        Parec.waitForFinished(3000);
    }
    // Takes in what has arrived (also done by the event loop).
    void read() {
        const QByteArray data = Parec.readAllStandardOutput();
        if (data.isEmpty())
            return;
        const int64_t now = SteadyNs();
        Pending.append(data);
        const qsizetype frames = Pending.size() / 4;
        const size_t at = Left.size();
        Left.resize(at + size_t(frames));
        for (qsizetype i = 0; i < frames; ++i) {
            int16_t l;
            std::memcpy(&l, Pending.constData() + 4 * i, 2);
            Left[at + size_t(i)] = l;
        }
        Pending.remove(0, frames * 4);
        Arrivals.push_back({int64_t(Left.size()), now});
    }
    // When the sink rendered sample n, on the steady clock.
    int64_t sampleTime(int64_t n) const {
        int64_t origin = std::numeric_limits<int64_t>::max();
        for (const TArrival& a : Arrivals) {
            if (a.End < n)
                continue;
            if (a.End > n + 3 * Rate)
                break;
            origin = std::min(origin, a.AtNs - a.End * 1000000000 / Rate);
        }
        return origin == std::numeric_limits<int64_t>::max() ? origin
                                                             : origin + n * 1000000000 / Rate;
    }
    // A sound in the recording: non-silent samples with less than a tenth of a second of
    // silence between them.
    struct TSound {
        int64_t Start = 0; // steady ns, by the recording's clock
        int64_t Frames = 0;
        int16_t First = 0; // the left channel's first and last non-silent samples
        int16_t Last = 0;
    };
    std::vector<TSound> sounds() const {
        std::vector<TSound> found;
        size_t zeros = 0;
        for (size_t i = 0; i < Left.size(); ++i) {
            if (Left[i] == 0) {
                ++zeros;
                continue;
            }
            if (found.empty() || zeros >= size_t(Rate / 10)) {
                TSound sound;
                sound.Start = sampleTime(int64_t(i));
                sound.First = Left[i];
                found.push_back(sound);
                found.back().Frames = 0;
                zeros = 0;
            }
            found.back().Frames += int64_t(zeros) + 1;
            found.back().Last = Left[i];
            zeros = 0;
        }
        return found;
    }
    // The steady time up to which the recording reaches.
    int64_t recordedUntil() const { return Arrivals.empty() ? 0 : Arrivals.back().AtNs; }

private:
    QProcess Parec;
    QByteArray Pending;
    std::vector<int16_t> Left; // the left channel is enough to tell sound from silence
    struct TArrival {
        int64_t End; // samples received by then
        int64_t AtNs;
    };
    std::vector<TArrival> Arrivals;
};
