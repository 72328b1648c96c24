#include "zkSoundPlayForm.h"

#include "zkSoundPlayer.h"
#include "zkSoundQueue.h"

#include "platform/zkMadeOnDemand.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
TMadeOnDemand<TSoundPlayForm> TheSoundPlayForm;
} // namespace

void SetSoundPlayFormMaker(std::function<TSoundPlayForm*()> maker) {
    TheSoundPlayForm.SetMaker(std::move(maker));
}

TSoundPlayForm* SoundPlayForm() {
    return TheSoundPlayForm.Get();
}

void InstallApplicationBeep() {
    SetBeepFunction([] {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        // The window system is only spoken to from the user-interface thread.
        if (QThread::currentThread() == app->thread())
            QApplication::beep();
        else
            QMetaObject::invokeMethod(
                app, [] { QApplication::beep(); }, Qt::QueuedConnection);
    });
}

TSoundPlayForm::TSoundPlayForm(QWidget* parent)
    : QWidget(parent, Qt::Window), Queue(std::make_unique<TSoundQueue>()) {
    setObjectName(QStringLiteral("SoundPlayForm"));
    setWindowTitle(tr("Sound"));
    PlayLog = new QPlainTextEdit(this);
    PlayLog->setObjectName(QStringLiteral("PlayLog"));
    PlayLog->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PlayLog);
    FBusy = false;
    InstallApplicationBeep();
    TheSoundPlayForm.Adopt(this);
}

TSoundPlayForm::~TSoundPlayForm() {
    // A sound still playing is cut short; the thread must be gone before the queue and the
    // audio back end it uses.
    if (PlayThread) {
        disconnect(PlayThread, nullptr, this, nullptr);
        PlayThread->Terminate();
        PlayThread->wait();
        delete PlayThread.data();
    }
    Queue->Clear();
    TheSoundPlayForm.Forget(this);
}

void TSoundPlayForm::Enqueue(const QString& setup) {
    Queue->Enqueue(setup);
}

void TSoundPlayForm::StartNextSound() {
    if (FBusy)
        return;
    const QString setup = Queue->TakeNext();
    if (setup.isEmpty())
        return;
    FBusy = true;
    auto* thread = new TSoundPlayThread(setup);
    // The thread's end is queued to this (user-interface) thread, so Busy only changes here.
    connect(thread, &QThread::finished, this, &TSoundPlayForm::SoundThreadTerminate,
            Qt::QueuedConnection);
    PlayThread = thread;
    thread->start();
}

void TSoundPlayForm::SoundThreadTerminate() {
    FBusy = false;
    emit SoundEnded();
}
