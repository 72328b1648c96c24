#pragma once

#include <QObject>

// The hidden sound playing window that owns the sound queue. Stand-in until the sound work
// lands: it exists from start-up and plays nothing.
class TSoundPlayForm : public QObject {
    Q_OBJECT
public:
    explicit TSoundPlayForm(QObject* parent = nullptr);
};
