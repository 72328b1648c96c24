// Integer text: the parser must agree with an independent reading of the rules (optional blanks
// and sign, decimal digits in the signed 32-bit range, or hexadecimal after "$", "x" or "0x"
// naming a 32-bit pattern), and every form the program writes must read back.
// Float text rides along: no crash, and finite values survive writing and reading.
#include "config/zkSettings.h"
#include "zkFuzzCheck.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

bool Reference(const QString& text, int32_t& value) {
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("[ \\t]*([+-]?)(?:(\\$|0[xX]|[xX])([0-9A-Fa-f]+)|([0-9]+))")));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const bool negative = match.captured(1) == QLatin1String("-");
    const bool hex = match.hasCaptured(3) && !match.captured(3).isEmpty();
    QString digits = hex ? match.captured(3) : match.captured(4);
    while (digits.size() > 1 && digits.front() == u'0')
        digits.remove(0, 1);
    if (digits.size() > (hex ? 8 : 10))
        return false;
    bool ok = false;
    const qulonglong magnitude = digits.toULongLong(&ok, hex ? 16 : 10);
    if (!ok)
        return false;
    const qulonglong limit = negative ? 0x80000000ull : hex ? 0xFFFFFFFFull : 0x7FFFFFFFull;
    if (magnitude > limit)
        return false;
    const int64_t signedValue = negative ? -int64_t(magnitude) : int64_t(magnitude);
    value = int32_t(uint32_t(uint64_t(signedValue)));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The first byte picks how the rest is decoded, so both decodings get explored.
    const QString text =
        size > 0 && (data[0] & 1) ? QString::fromLatin1(bytes.mid(1)) : QString::fromUtf8(bytes);
    int32_t value = 0;
    const bool ok = TryParseIntegerText(text, value);
    int32_t expected = 0;
    Check(ok == Reference(text, expected));
    if (ok) {
        Check(value == expected);
        int32_t back = 0;
        Check(TryParseIntegerText(QString::number(value), back) && back == value);
        const QString hex = QString::number(uint32_t(value), 16);
        for (const QString& form : {u'$' + hex, QStringLiteral("0x") + hex.toUpper(), u'x' + hex})
            Check(TryParseIntegerText(form, back) && back == value);
    }

    double number = 0;
    if (TryParseFloatText(text, number) && std::isfinite(number)) {
        double back = 0;
        Check(TryParseFloatText(FormatFloatText(number), back) && back == number);
    }
    return 0;
}
