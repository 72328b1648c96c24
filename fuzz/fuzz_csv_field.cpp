// The history's CSV writer with any text in its fields. Read back by RFC 4180, a line has its
// six fields and each text field is the text as UTF-8, or, where a spreadsheet would run it as a
// formula, the text after a "'"; a field left to start with "=", "+", "-", "@", TAB or CR is a
// plain number.
#include "history/zkHistoryStore.h"
#include "zkFuzzCheck.h"

#include <cstdint>

namespace {

// The fields of one CSV record (without its CRLF); false when it is not well-formed RFC 4180.
bool ReadRecord(const QByteArray& line, QList<QByteArray>& fields) {
    fields.clear();
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        QByteArray field;
        if (i < n && line[i] == '"') {
            ++i;
            while (true) {
                if (i == n)
                    return false;
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
        } else {
            while (i < n && line[i] != ',') {
                if (line[i] == '"' || line[i] == '\r' || line[i] == '\n')
                    return false;
                field += line[i++];
            }
        }
        fields << field;
        if (i == n)
            return true;
        if (line[i] != ',')
            return false;
        ++i;
    }
}

bool StartsLikeFormula(const QByteArray& field) {
    return !field.isEmpty() && QByteArrayView("=+-@\t\r").contains(field[0]);
}

// Signs, digits, points and exponents only, and a digit among them: nothing a spreadsheet
// could run.
bool LooksNumeric(const QByteArray& field) {
    bool digit = false;
    for (const char c : field) {
        if (!QByteArrayView("0123456789+-.eE").contains(c))
            return false;
        digit = digit || (c >= '0' && c <= '9');
    }
    return digit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16 * 1024)
        return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray utf8 = text.toUtf8();

    QByteArray one;
    AppendHistoryCsvField(one, text);
    QList<QByteArray> fields;
    Check(ReadRecord(one, fields) && fields.size() == 1);
    const QByteArray field = fields[0];
    if (field == utf8) {
        Check(!StartsLikeFormula(field) || LooksNumeric(field));
    } else {
        Check(field == '\'' + utf8 && StartsLikeFormula(utf8));
    }

    THistoryAlert alert;
    alert.TimeMs = size > 0 ? qint64(data[0]) * 86400000 * 365 : 0;
    alert.Window = text;
    alert.Symbol = text;
    alert.Price = double(size) / 8;
    alert.Description = text;
    alert.Source = text;
    const QByteArray line = HistoryCsvLine(alert);
    Check(line.endsWith("\r\n"));
    Check(ReadRecord(line.chopped(2), fields) && fields.size() == 6);
    Check(fields[1] == field && fields[2] == field && fields[4] == field && fields[5] == field);
    return 0;
}
