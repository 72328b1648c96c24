#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QPlainTextEdit;
class TSoundPlayThread;
class TSoundQueue;

// The hidden sound window. It owns the sound queue and starts each queued sound on its own
// worker thread, one at a time; it is never shown.
class TSoundPlayForm : public QWidget {
    Q_OBJECT
public:
    explicit TSoundPlayForm(QWidget* parent = nullptr);
    ~TSoundPlayForm() override;

    TSoundQueue& SoundQueue() { return *Queue; }
    // Queues a sound setup (the new-alert dispatch calls this for each sound action).
    void Enqueue(const QString& setup);
    // The idle step: starts the next waiting sound unless one is playing.
    void StartNextSound();
    // True from the start of a sound until its end has been handled on this thread.
    bool Busy() const { return FBusy; }

    QPlainTextEdit* PlayLog = nullptr;

signals:
    // A sound thread has ended and Busy is false again.
    void SoundEnded();

private:
    void SoundThreadTerminate();

    std::unique_ptr<TSoundQueue> Queue;
    bool FBusy = false;
    QPointer<TSoundPlayThread> PlayThread;
};

// The sound window, made by the maker when there is none yet (nullptr when there is no maker).
TSoundPlayForm* SoundPlayForm();
// How the sound window is made when first asked for; an empty maker makes none.
void SetSoundPlayFormMaker(std::function<TSoundPlayForm*()> maker);

// Sounds the standard beep through the application (on its thread) for the sound player.
void InstallApplicationBeep();
