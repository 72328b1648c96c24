// Sound setup text: parsing never fails on any input, agrees with an independent reading of
// the fields, and what the program writes reads back the same.
#include "alerts/zkSoundSetup.h"
#include "config/zkSettings.h"
#include "zkFuzzCheck.h"

#include <cstdint>
#include <cstdlib>

namespace {

uint16_t Field(const QStringList& fields, int index) {
    int32_t value = 0;
    if (fields.size() <= index || !TryParseIntegerText(fields[index], value))
        return 50;
    return uint16_t(uint32_t(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const TSoundSetup setup = ParseSoundSetup(text);

    if (text.isEmpty() || text == DefaultSoundName) {
        Check(setup.FileName == DefaultSoundName && setup.Volume == 50 && setup.Balance == 50);
    } else {
        const QStringList fields = text.split(QLatin1Char(','));
        Check(setup.FileName == fields[0]);
        Check(setup.Volume == Field(fields, 1));
        Check(setup.Balance == Field(fields, 2));
    }
    Check(!setup.FileName.contains(QLatin1Char(',')));

    // Writing and reading again changes nothing, unless the name is empty (read as the beep).
    const QString written = FormatSoundSetup(setup);
    const TSoundSetup back = ParseSoundSetup(written);
    if (setup.FileName == DefaultSoundName) {
        Check(written == DefaultSoundName);
    } else {
        Check(back.FileName == setup.FileName);
        Check(back.Volume == setup.Volume && back.Balance == setup.Balance);
        Check(FormatSoundSetup(back) == written);
    }
    return 0;
}
