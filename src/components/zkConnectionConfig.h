#pragma once

#include "config/zkConfig.h"

#include <QString>
#include <QStringList>

class IConnectionControl;
class QObject;

// The configuration files as the connection component takes them.

// Puts the record into the connection component and sets the application title and, when one
// is given, the main window's caption.
void ApplyConfig(const TConfigInfo& config, IConnectionControl& connection,
                 QObject* mainWindow = nullptr);
// Puts every key of one INI section into the component as a property of that name. Failures
// are per key; with an error list each adds one line "\"Key\":  text".
void ApplyIniSectionByName(const QString& fileName, const QString& sectionName,
                           IConnectionControl& connection, QStringList* errors);
