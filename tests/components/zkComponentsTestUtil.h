#pragma once

// Helpers shared by the component suites.

#include "components/zkSimService.h"

#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Catches what is written to stderr while it lives (the service reports bad files there).
class TStderrCapture {
public:
    TStderrCapture() {
        File.open();
        std::fflush(stderr);
        Saved = dup(STDERR_FILENO);
        dup2(File.handle(), STDERR_FILENO);
    }
    ~TStderrCapture() { Restore(); }
    QString Text() {
        std::fflush(stderr);
        QFile f(File.fileName());
        f.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(f.readAll());
    }
    void Restore() {
        if (Saved < 0)
            return;
        std::fflush(stderr);
        dup2(Saved, STDERR_FILENO);
        close(Saved);
        Saved = -1;
    }

private:
    QTemporaryFile File;
    int Saved = -1;
};

// A fresh simulated service for one test, connecting fast.
inline std::shared_ptr<TSimService> FreshService(int connectDelayMs = 20) {
    TSimService::ResetInstance();
    std::shared_ptr<TSimService> service = TSimService::Instance();
    service->SetPropertyByName(QStringLiteral("SimConnectDelay"), QString::number(connectDelayMs));
    return service;
}
