// Alert sounds on time, whole process: the client runs on a private PulseAudio daemon whose null
// sink is idle (no other program plays to it), takes alerts on its inbox webhook, and plays a
// 1.0 s tone for each; parec records the sink's monitor. Printed per play:
//  - onset: from the alert's request written to the webhook to the first non-silent sample at
//    the sink (median, p99, worst);
//  - hold: how long the player stays taken by the 1.0 s sound. Each round sends a second alert
//    0.2 s after the first; it waits for the player and plays the same tone right after, so
//    the first play's hold is the round's sound from start to end less the second tone.
// Baselines in the same run: paplay playing the same tone on the idle sink before the client
// starts (its hold only: the monitor of a sink rendering seconds ahead has no usable clock),
// and paplay beside the running client, on the sink as the client keeps it (onset from its
// process start; hold until it exits).
// Sample times are when the sink renders them (the monitor's clock), which is at most the
// sink's latency before they are heard; a client that asks for a small latency keeps that to
// a few milliseconds.
//
//   bench_sound_onset [--client PATH] [--rounds N]
// --client runs another build of the client (an older one, for a figure before a change).
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkBenchHttp.h"
#include "zkClientProcess.h"
#include "zkPulseDaemon.h"
#include "zkSinkMonitor.h"
#include "zkTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using zkBenchHttp::NowNs;
using zkBenchHttp::Percentile;

constexpr double ToneSeconds = 1.0;

bool WriteTone(const QString& path) {
    SF_INFO info{};
    info.samplerate = TSinkMonitor::Rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const int frames = int(std::lround(TSinkMonitor::Rate * ToneSeconds));
    std::vector<int16_t> samples(size_t(frames) * 2);
    // Starts and ends on a non-zero sample, so the recording shows exactly where it lies.
    for (int i = 0; i < frames; ++i)
        samples[size_t(2 * i)] = samples[size_t(2 * i + 1)] =
            int16_t(3000 * std::sin(0.3 + i * 0.06));
    const bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

// Handles the monitor's output until the steady clock reaches due.
void RunUntil(long long due) {
    while (NowNs() < due) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        zkBenchHttp::SleepUntilNs(std::min(due, NowNs() + 2000000));
    }
}

// How far ahead the sink renders now, as the server reports it (ms; -1 when unknown).
double SinkLatencyMs(const QProcessEnvironment& env) {
    QProcess pactl;
    pactl.setProcessEnvironment(env);
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sinks")});
    if (!pactl.waitForFinished(5000))
        return -1;
    const QString out = QString::fromLocal8Bit(pactl.readAllStandardOutput());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Latency: (\\d+) usec")).match(out);
    return m.hasMatch() ? m.captured(1).toDouble() / 1000 : -1;
}

struct TFigures {
    std::vector<double> OnsetMs, HoldMs;
    std::vector<double> SinkLatencyMs; // while the sound played
    int Missing = 0;
};

// Finds in the recording the sound that starts after each send (within 5 s); a round's sound
// runs until the next round's send.
TFigures Measure(const TSinkMonitor& monitor, const std::vector<long long>& sends,
                 const std::vector<long long>& ends, bool twoTones) {
    const std::vector<TSinkMonitor::TSound> sounds = monitor.sounds();
    TFigures f;
    const long long rate = TSinkMonitor::Rate;
    for (size_t r = 0; r < sends.size(); ++r) {
        // The recording's clock is good to a few milliseconds, so a sound that starts at once
        // may seem to start just before its alert; it is counted with its own round.
        constexpr long long early = 50000000;
        const long long from = sends[r] - early;
        const long long to = r + 1 < sends.size() ? sends[r + 1] - early : monitor.recordedUntil();
        long long start = -1, end = -1;
        for (const TSinkMonitor::TSound& s : sounds) {
            if (s.Start < from || s.Start >= to)
                continue;
            if (start < 0)
                start = s.Start;
            end = s.Start + s.Frames * 1000000000 / rate;
        }
        if (qEnvironmentVariableIsSet("BENCH_VERBOSE")) {
            std::printf("round %zu:", r);
            for (const TSinkMonitor::TSound& s : sounds)
                if (s.Start >= from - 3000000000LL && s.Start < to)
                    std::printf(" [%+.1f ms, %.1f ms long]", double(s.Start - sends[r]) / 1e6,
                                double(s.Frames) * 1000 / double(rate));
            std::printf("\n");
        }
        if (start < 0) {
            ++f.Missing;
            continue;
        }
        f.OnsetMs.push_back(double(start - sends[r]) / 1e6);
        if (twoTones)
            f.HoldMs.push_back(double(end - start) / 1e6 - ToneSeconds * 1000);
        else
            f.HoldMs.push_back(double(ends[r] - sends[r]) / 1e6);
    }
    return f;
}

void Print(const char* name, const TFigures& f) {
    if (f.OnsetMs.empty() && !f.HoldMs.empty()) {
        std::printf("%-34s hold median %7.1f ms  p99 %7.1f ms  worst %7.1f ms (%.2fx the sound)\n",
                    name, Percentile(f.HoldMs, 0.5), Percentile(f.HoldMs, 0.99),
                    Percentile(f.HoldMs, 1.0), Percentile(f.HoldMs, 0.99) / (ToneSeconds * 1000));
    } else if (f.OnsetMs.empty()) {
        std::printf("%-34s no sound found\n", name);
        return;
    } else {
        std::printf(
            "%-34s onset median %7.1f ms  p99 %7.1f ms  worst %7.1f ms | hold median %7.1f "
            "ms  p99 %7.1f ms  worst %7.1f ms (%.2fx the sound) | %zu plays, %d not found\n",
            name, Percentile(f.OnsetMs, 0.5), Percentile(f.OnsetMs, 0.99),
            Percentile(f.OnsetMs, 1.0), Percentile(f.HoldMs, 0.5), Percentile(f.HoldMs, 0.99),
            Percentile(f.HoldMs, 1.0), Percentile(f.HoldMs, 0.99) / (ToneSeconds * 1000),
            f.OnsetMs.size(), f.Missing);
    }
    if (!f.SinkLatencyMs.empty())
        std::printf("%-34s the sink rendered %.1f ms ahead while playing (median; worst %.1f ms): "
                    "so much later the samples are heard\n",
                    "", Percentile(f.SinkLatencyMs, 0.5), Percentile(f.SinkLatencyMs, 1.0));
}

// Ten plays of the tone by paplay, each from its process start; with the onset read from the
// monitor or not.
TFigures PaplayRounds(TSinkMonitor& monitor, const TPulseDaemon& daemon, const QString& tone,
                      bool onset) {
    std::vector<long long> sends, ends;
    std::vector<double> latencies;
    for (int i = 0; i < 10; ++i) {
        QProcess paplay;
        paplay.setProcessEnvironment(daemon.env());
        const long long start = NowNs();
        paplay.start(QStringLiteral("paplay"), {tone});
        bool asked = false;
        while (paplay.state() != QProcess::NotRunning) {
            if (!asked && NowNs() > start + 600000000LL) {
                latencies.push_back(SinkLatencyMs(daemon.env()));
                asked = true;
            }
            if (!paplay.waitForFinished(5))
                QCoreApplication::processEvents();
        }
        sends.push_back(start);
        ends.push_back(NowNs());
        RunUntil(NowNs() + 1000000000LL);
    }
    RunUntil(NowNs() + 1000000000LL);
    monitor.read();
    TFigures f = Measure(monitor, sends, ends, false);
    f.SinkLatencyMs = latencies;
    if (!onset) {
        f.OnsetMs.clear();
        f.HoldMs.clear();
        for (size_t i = 0; i < sends.size(); ++i)
            f.HoldMs.push_back(double(ends[i] - sends[i]) / 1e6);
        f.Missing = 0;
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString client = QStringLiteral(VELQUIST_BIN_DIR "/velquist");
    int rounds = 50;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--client"))
            client = args[i + 1];
        else if (args[i] == QLatin1String("--rounds"))
            rounds = args[i + 1].toInt();
    }
    if (!TPulseDaemon::Installed()) {
        std::fprintf(stderr, "pulseaudio is not installed\n");
        return 1;
    }
    TTestHome home;
    QTemporaryDir dir;
    TPulseDaemon daemon(dir.path());
    if (!daemon.start()) {
        std::fprintf(stderr, "the PulseAudio daemon did not start\n");
        return 1;
    }
    const QString tone = dir.filePath(QStringLiteral("tone.wav"));
    if (!WriteTone(tone))
        return 1;
    TSinkMonitor monitor;
    if (!monitor.start(daemon.env(), QLatin1String(TPulseDaemon::SinkName)))
        return 1;
    RunUntil(NowNs() + 3000000000LL); // the sink settles into its idle pace

    // paplay on the idle sink: how long it is held. Its onset cannot be read from the monitor
    // here: a sink rendering seconds ahead in blocks gives the samples no usable clock.
    const TFigures idle = PaplayRounds(monitor, daemon, tone, false);

    // The client, as a user sets it up: the inbox on, and its windows play the tone.
    QTemporaryDir inst;
    QDir().mkpath(inst.filePath(QStringLiteral("SavedWindows")));
    if (!QFile::copy(client, inst.filePath(QStringLiteral("velquist")))) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(client));
        return 1;
    }
    WriteTextFile(inst.filePath(QStringLiteral("SavedWindows/DEFAULT_WINDOW.zka")),
                  "[AlertWindow]\nAction0=1,2," + tone.toUtf8() + ",100,50\nActionsCount=1\n");
    StoreDeskChoices(inst.filePath(QStringLiteral("SavedWindows/desk.zkl")), false);
    TInboxSettings inbox;
    inbox.Enabled = true;
    inbox.Port = FreePort();
    inbox.Token = QString::fromLatin1(zkBenchHttp::Token);
    WriteInboxSettings(TSettingsStore::Registry(), inbox);
    TUserStore::ResetInstance();
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("PULSE_SERVER"), daemon.serverAddress());
    TClientRun run(inst.filePath(QStringLiteral("velquist")), {}, inst.path(), extra,
                   {QStringLiteral("VELQUIST_AUDIO_OUT")});
    if (!run.waitStarted() || !WaitListening(inbox.Port, run)) {
        std::fprintf(stderr, "the client did not start: %s\n", run.stdErr().constData());
        return 1;
    }
    zkBenchHttp::TConnection webhook(inbox.Port);
    auto send = [&webhook](int n) {
        webhook.Write(zkBenchHttp::Post(zkBenchHttp::Batch(n, 1)));
        return webhook.ReadResponse();
    };
    // The first alert opens the window; it is not counted.
    if (send(0) != 202) {
        std::fprintf(stderr, "the webhook did not take the alert\n");
        return 1;
    }
    RunUntil(NowNs() + 3000000000LL);
    std::vector<long long> sends, ends;
    std::vector<double> latencies;
    for (int r = 0; r < rounds; ++r) {
        const long long at = NowNs();
        send(2 * r + 1);
        sends.push_back(at);
        RunUntil(at + 200000000LL);
        send(2 * r + 2);
        RunUntil(at + 600000000LL);
        latencies.push_back(SinkLatencyMs(daemon.env()));
        RunUntil(at + 2700000000LL);
    }
    RunUntil(NowNs() + 1000000000LL);
    monitor.read();
    TFigures client2 = Measure(monitor, sends, ends, true);
    client2.SinkLatencyMs = latencies;
    // The baseline: paplay on the sink as the client keeps it.
    const TFigures baseline = PaplayRounds(monitor, daemon, tone, true);
    run.terminate();
    run.waitFinished();

    std::printf("A %.1f s tone on an idle PulseAudio null sink, sample times at the sink's "
                "monitor\n",
                ToneSeconds);
    Print("paplay, idle sink (hold only)", idle);
    Print("client (alert to sink)", client2);
    Print("paplay beside the client (baseline)", baseline);
    if (!baseline.OnsetMs.empty() && !client2.OnsetMs.empty())
        std::printf("ratio client / paplay: onset median %.2f, hold median %.2f\n",
                    Percentile(client2.OnsetMs, 0.5) / Percentile(baseline.OnsetMs, 0.5),
                    Percentile(client2.HoldMs, 0.5) / Percentile(baseline.HoldMs, 0.5));
    std::printf("goal: onset p99 <= 50 ms, hold <= 1.1x the sound\n");
    return 0;
}
