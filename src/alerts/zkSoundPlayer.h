#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>

class QIODevice;

// Sound output: plays sound setups synchronously, on whichever thread calls. Wave files are
// decoded in blocks, so a long file never sits in memory whole; the left and right levels are
// applied to the samples themselves, the system mixer is never touched.
//
// When the environment variable VELQUIST_AUDIO_OUT names a folder, that folder is the one output
// device: each play writes what the speakers would have received there as NNNN.wav (stereo,
// 16-bit, levels applied) and each beep an empty NNNN.beep, numbered on from 0001.

// The per-channel output levels of a setup, 0-65535 each (65535 leaves a sample as it is).
struct TChannelLevels {
    uint16_t Left = 0;
    uint16_t Right = 0;
};

// Volume in percent times 655, placed between the speakers by the balance; every product keeps
// its low 16 bits.
TChannelLevels ChannelLevels(uint16_t volume, uint16_t balance);

// The number of sound output devices (the capture folder counts as one).
int WaveOutDeviceCount();

// Walks the chunks of a RIFF/RIFX wave file from its start: false when it is no wave file or
// its data chunk promises more than the file holds (a cut-short copy). Sizes 0 and 0xFFFFFFFF
// (streaming writers' "unknown") and RF64 files pass; the decoder checks those.
bool WaveLooksComplete(QIODevice& file);
bool HasSoundDevice();
// Gets the speakers ready in the background, so that the first sound is on time too; nothing
// when sounds go to the capture folder. Returns at once.
void PrepareSoundOutput();

// Plays one setup and returns when it has ended. "<Default>", a missing file or a machine
// without a sound device give the standard beep; so does a file that cannot be played as a
// wave file, which also makes the result false. stop, when given, ends a sound early.
bool PlaySoundSetup(const QString& setupText, const std::atomic_bool* stop = nullptr);

// The standard beep (or a .beep file in the capture folder).
void SystemBeep();
// How the standard beep is sounded on this desktop; the windows that play sounds set it, so this
// module needs no widget library. Called on any thread.
void SetBeepFunction(std::function<void()> beep);

// The capture folder from VELQUIST_AUDIO_OUT, or empty when sounds go to the speakers.
QString AudioOutDir();

// The worker thread that plays one setup. It is created without running, frees itself when it
// ends, and its finished() reaches receivers on the user-interface thread through a queued
// connection.
class TSoundPlayThread : public QThread {
    Q_OBJECT
public:
    explicit TSoundPlayThread(QString setup, QObject* parent = nullptr);
    const QString& Setup() const { return SetupText; }
    // Asks the thread to stop: before it starts it plays nothing, while playing it ends early.
    void Terminate() { Terminated = true; }

protected:
    void run() override;

private:
    QString SetupText;
    std::atomic_bool Terminated{false};
};
