// Any bytes as an INI file: the reader must not crash, every key it lists must read, and what
// the writer saves must read back the same, before and after edits.
#include "config/zkIniFile.h"
#include "zkFuzzCheck.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Everything the reader sees of a document must be the same in the other.
void CheckSame(const TIniDocument& a, const TIniDocument& b) {
    const QStringList sections = a.SectionNames();
    Check(b.SectionNames() == sections);
    for (const QString& section : sections) {
        const QStringList keys = a.KeyNames(section);
        Check(b.KeyNames(section) == keys);
        for (const QString& key : keys)
            Check(b.Value(section, key) == a.Value(section, key));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TIniDocument doc = TIniDocument::Parse(bytes);

    const QStringList sections = doc.SectionNames();
    for (const QString& section : sections) {
        Check(doc.HasSection(section));
        for (const QString& key : doc.KeyNames(section))
            Check(doc.Value(section, key).has_value());
    }
    CheckSame(doc, TIniDocument::Parse(doc.Serialize()));

    // Edits: a value written reads back, exactly, from the saved text.
    const QString section = sections.isEmpty() ? QStringLiteral("fuzz") : sections.front();
    const QString value = size > 0 ? QString::fromLatin1(bytes.left(24)) : QStringLiteral(" x ");
    doc.SetValue(section, QStringLiteral("FuzzKey"), value);
    doc.SetValue(QStringLiteral("\\Fuzz\\New Section"), QStringLiteral("Key"), QStringLiteral("1"));
    TIniDocument edited = TIniDocument::Parse(doc.Serialize());
    CheckSame(doc, edited);
    QString expected = value;
    expected.replace(u'\r', u' ').replace(u'\n', u' ');
    Check(edited.Value(section, QStringLiteral("fuzzkey")) == expected);

    if (!sections.isEmpty()) {
        const QStringList keys = doc.KeyNames(sections.back());
        if (!keys.isEmpty())
            Check(doc.RemoveKey(sections.back(), keys.front()));
        Check(doc.EraseSection(sections.front()));
        Check(!doc.HasSection(sections.front()));
        CheckSame(doc, TIniDocument::Parse(doc.Serialize()));
    }
    return 0;
}
