// Layout and alert-window files as hand-made or damaged files give them: reading never fails
// or runs away (a huge "AlertCount" opens no more windows than the file has groups), and what
// is read, written out again and read back is the very same layout and record.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "shell/zkLayouts.h"
#include "zkFuzzCheck.h"

#include <algorithm>
#include <cstdint>

namespace {
// The files live in memory (no system call per read or save): the reader and writer are what
// is fuzzed here, and the disk made each run a hundred system calls.
const QString Input = QStringLiteral("/velquist-fuzz/in.zkl");
const QString Copy = QStringLiteral("/velquist-fuzz/copy.zkl");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    static const bool ready = [] {
        SetDefaultWindowRecord();
        return true;
    }();
    (void)ready;
    // Nothing of a run outlives it: libFuzzer looks for leaks (slowly) after any run that
    // frees less than it allocated.
    struct TEndOfRun {
        ~TEndOfRun() {
            zkIni::ClearMemoryFiles();
            zkIni::ClearCache();
        }
    } endOfRun;
    const QString& input = Input;
    const QString& copy = Copy;
    zkIni::SetMemoryFile(input, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    zkIni::SetMemoryFile(copy, std::nullopt);
    zkIni::ClearCache();

    const TSettingsStore in = TSettingsStore::IniFile(input);
    // A count that is walked costs a window read (dozens of values) per number and shows
    // nothing new past a few; counts past the walking limit are the interesting ones and stay.
    const int32_t count = ReadIntegerValue(in, LayoutKeyPath(), QStringLiteral("AlertCount"), 0);
    if (count > 4 && count <= MaxWalkedAlertCount)
        return 0;
    const TLayout layout = ReadLayout(in);
    // A window is only read where the file could hold one: a huge count with few groups
    // opens no more windows than there are sections, or than a count small enough to walk.
    const qsizetype sections = zkIni::SectionNames(input).size();
    Check(layout.Windows.size() <= size_t(std::max<qsizetype>(sections, MaxWalkedAlertCount)));

    const TSettingsStore out = TSettingsStore::IniFile(copy);
    WriteLayout(out, layout);
    // Read back from the saved text; the input keeps its parse.
    zkIni::ClearCache(copy);
    Check(ReadLayout(out) == layout);

    // One alert-window record, from the section an alert-window file keeps it in.
    TLayoutInfo record = DefaultWindowRecord();
    ReadWindowRecord(in, QStringLiteral("AlertWindow"), record);
    {
        // One save for the record, as a window's file gets it, not one per value.
        TSettingsBatch batch(out);
        WriteWindowRecord(out, QStringLiteral("AlertWindow"), record, true);
        batch.Commit();
    }
    zkIni::ClearCache(copy);
    TLayoutInfo again = DefaultWindowRecord();
    ReadWindowRecord(out, QStringLiteral("AlertWindow"), again);
    Check(again == record);
    return 0;
}
