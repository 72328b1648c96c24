#pragma once

// Everything one whole-process test runs the client among, asked for one line each: private
// folders (HOME and XDG_*), a copy of the built client, a private session bus, an X desktop,
// a Wayland compositor, the accessibility bus, dunst or the tests' notification server, a
// keyring, an audio server, a TLS broker, the inbox's address. The client started from here gets
// the environment all of these imply, and no bus but the private one. Every part ends with the
// harness, in the reverse order of its making (the clients first), also when a check fails midway.
//
//     TWholeProcessHarness h;
//     HARNESS_NEED(h.needKeyring());
//     TClientRun& client = h.startClient();

#include "zkClientProcess.h"
#include "zkMosquitto.h"
#include "zkPulseDaemon.h"
#include "zkTestDesktop.h"
#include "zkTestKeyring.h"
#include "zkTestScreenReader.h"
#include "zkTestSupport.h"

#include <QImage>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Skips the test (with what is missing) when a part cannot be had on this machine.
#define HARNESS_NEED(part)                                                                         \
    do {                                                                                           \
        const QString harnessProblem_ = (part);                                                    \
        if (!harnessProblem_.isEmpty())                                                            \
            QSKIP(qPrintable(harnessProblem_));                                                    \
    } while (false)

class TWholeProcessHarness {
public:
    // The private folders (set for this process as well) and the installation.
    TWholeProcessHarness();
    ~TWholeProcessHarness();
    TWholeProcessHarness(const TWholeProcessHarness&) = delete;
    TWholeProcessHarness& operator=(const TWholeProcessHarness&) = delete;

    const TTestHome& home() const { return *Home; }
    QString installDir() const { return Install->dir(); }
    QString clientPath() const { return Install->clientPath(); }

    // Each starts its part (and the parts it needs) once; empty when it is up, else what is
    // missing or went wrong (HARNESS_NEED skips on it).
    QString needSessionBus();
    // openbox on it unless withWindowManager is false; wmArguments go to openbox.
    QString needDesktop(bool withWindowManager = true, const QStringList& wmArguments = {});
    // Headless weston, its socket in the private runtime folder; clients draw on it (on it
    // rather than on the X desktop, when there are both).
    QString needWeston();
    // The accessibility registry on the session bus, for a11y_probe.py; the client is read.
    QString needScreenReader();
    QString needDunst();
    // The tests' notification server: delayMs before each answer; plain reads no markup.
    QString needNotificationRecorder(int delayMs = 0, bool plain = false);
    QString needKeyring();
    // PulseAudio with a null sink; the client plays to it.
    QString needAudio();
    // mosquitto (TLS unless told otherwise); serverDays as TMosquitto takes it.
    QString needBroker(bool tls = true, int serverDays = 2);
    // The inbox switched on with that token at a free port, in the per-user store.
    quint16 needInbox(const QString& token);

    TSessionBus& bus() { return *Bus; }
    TDesktop& desktop() { return *Desktop; }
    TScreenReader& screenReader() { return *Reader; }
    TDunst& dunst() { return *Dunst; }
    TNotificationRecorder& notifications() { return *Recorder; }
    TTestKeyring& keyring() { return *Keyring; }
    TPulseDaemon& audio() { return *Audio; }
    TMosquitto& broker() { return *Broker; }
    quint16 inboxPort() const { return InboxPort; }

    // What a client started here gets, on top of the test's own environment.
    QProcessEnvironment clientEnvironment() const;
    // Starts the client of the installation (extra on top of clientEnvironment(), then the
    // variables in unset taken out); it is killed, if still running, when the harness ends.
    TClientRun& startClient(const QStringList& arguments = {},
                            const QProcessEnvironment& extra = {}, const QStringList& unset = {});
    // The folder clients start in from now on (empty: the test's own).
    void setWorkingDir(const QString& dir) { WorkingDir = dir; }
    // Any other program with the client's environment (a tool of the installation, say).
    TClientRun& startProgram(const QString& program, const QStringList& arguments = {},
                             const QProcessEnvironment& extra = {}, const QStringList& unset = {});

    // A JSON body (an alert or an array of them) posted to the inbox with its token.
    THttpAnswer postAlert(const QByteArray& json) const;
    // Waits until every caption is shown on the desktop; false when the client ended first
    // or time ran out.
    bool waitShown(const QStringList& captions, TClientRun& client, int ms = 20000) const;
    // The desktop's screen (kept under keptName with VELQUIST_KEEP_SCREENSHOTS).
    QImage screenshot(const QString& keptName = QString()) const;

private:
    // Declared in the order they are made: members end in reverse, the clients first.
    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<TTestInstallation> Install;
    std::unique_ptr<TSessionBus> Bus;
    std::unique_ptr<TDesktop> Desktop;
    std::unique_ptr<TWaylandDesktop> Weston;
    std::unique_ptr<TPulseDaemon> Audio;
    std::unique_ptr<TMosquitto> Broker;
    std::unique_ptr<TTestKeyring> Keyring;
    std::unique_ptr<TNotificationRecorder> Recorder;
    std::unique_ptr<TDunst> Dunst;
    std::unique_ptr<TScreenReader> Reader;
    std::vector<std::unique_ptr<TClientRun>> Clients;
    QString WorkingDir;
    QString InboxToken;
    quint16 InboxPort = 0;
};
