#include "zkActionFields.h"

#include "config/zkSettings.h"
#include "platform/zkErrors.h"

#include <QCoreApplication>

void SplitActionField(const QString& text, QString& field, QString& rest) {
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma < 0) {
        field = text;
        rest.clear();
    } else {
        field = text.left(comma);
        rest = text.mid(comma + 1);
    }
}

TActionFields SplitAction(const QString& action) {
    TActionFields fields;
    QString rest;
    SplitActionField(action, fields.Trigger, rest);
    SplitActionField(rest, fields.Kind, fields.Parameter);
    return fields;
}

int32_t ActionInteger(const QString& text) {
    int32_t value = 0;
    if (!TryParseIntegerText(text, value))
        throw EConvertError(
            QCoreApplication::translate("zkActions", "'%1' is not a valid integer value")
                .arg(text));
    return value;
}
