// An alert window's DataConfig and WindowConfig, which web links hand over as they come:
// reading never fails, setting a key and reading it back gives the value set, the other keys
// keep their values, and the column widths asked for by "CW=" stay within what a header takes.
#include "components/zkSimAlertModel.h"
#include "components/zkSimAlertWindow.h"
#include "platform/zkOutsideText.h"
#include "zkFuzzCheck.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const TSimDataConfig config = ParseSimDataConfig(text);
    for (const QString& symbol : config.Symbols)
        Check(!symbol.isEmpty());
    if (config.MinPrice)
        Check(std::isfinite(*config.MinPrice));
    if (config.MaxPrice)
        Check(std::isfinite(*config.MaxPrice));

    for (const int width : SimColumnWidths(text))
        Check(width >= 16 && width <= 2000);

    // Setting a value keeps every other key's value and reads back whole, whatever it holds.
    // Cut where a character ends: half a surrogate pair is not text and has no UTF-8 form.
    const QString value = zkOutsideText::Shortened(text, 16) + QStringLiteral("&=%+ ");
    const QString changed = SimQueryWith(text, QStringLiteral("WN"), value);
    bool found = false;
    Check(SimQueryValue(changed, QStringLiteral("WN"), &found) == value && found);
    for (const QString& key :
         {QStringLiteral("S"), QStringLiteral("CW"), QStringLiteral("MinPrice")})
        Check(SimQueryValue(changed, key) == SimQueryValue(text, key));
    return 0;
}
