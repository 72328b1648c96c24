// The text forms of numbers in settings files and dialogs. Kept apart from the stores so the
// fuzz target can build them alone.
#include "zkSettings.h"

#include <QLocale>

namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

bool TryParseIntegerText(const QString& text, int32_t& value) {
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < size && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < size && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == size)
        return false;

    // Hexadecimal text names a 32-bit pattern (colours such as $FF000008 are negative numbers);
    // decimal text must lie in the signed range.
    const uint64_t limit =
        hex ? (negative ? 0x80000000u : 0xFFFFFFFFu) : (negative ? 0x80000000u : 0x7FFFFFFFu);
    const int base = hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < size; ++i) {
        const char16_t c = text[i].unicode();
        const int digit = hex ? HexDigit(c) : (c >= u'0' && c <= u'9' ? c - u'0' : -1);
        if (digit < 0)
            return false;
        magnitude = magnitude * uint64_t(base) + uint64_t(digit);
        if (magnitude > limit)
            return false;
    }
    const uint32_t bits = uint32_t(negative ? 0u - uint32_t(magnitude) : uint32_t(magnitude));
    value = int32_t(bits);
    return true;
}

bool TryParseFloatText(const QString& text, double& value) {
    // Settings never hold group separators, so "1.500" in a German locale is one and a half
    // written the C way, not fifteen hundred.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    double parsed = locale.toDouble(text, &ok);
    if (!ok) {
        QLocale c = QLocale::c();
        c.setNumberOptions(c.numberOptions() | QLocale::RejectGroupSeparator);
        parsed = c.toDouble(text, &ok);
    }
    if (ok)
        value = parsed;
    return ok;
}

QString FormatFloatText(double value) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', QLocale::FloatingPointShortest);
}
