#pragma once

// The fields of a stored action string ("trigger,kind,parameter"), read alike by the alert
// actions and by the link lists that actions name.

#include <QString>

#include <cstdint>

// The text before the first comma goes to field, the text after it to rest; without a comma
// the whole text is the field and rest is empty.
void SplitActionField(const QString& text, QString& field, QString& rest);

struct TActionFields {
    QString Trigger;
    QString Kind;
    QString Parameter;
};
TActionFields SplitAction(const QString& action);

// Strict integer text, as stored action strings need it; raises EConvertError
// "'text' is not a valid integer value" otherwise.
int32_t ActionInteger(const QString& text);
