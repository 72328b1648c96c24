// The symbol list file reader and the editor's normalisation: no crash on any bytes, lines
// follow the break rules, what is written reads back the same, and normalised symbols are
// trimmed, upper-cased, strictly ascending and stable under a second normalisation.
#include "symbollists/zkSymbolListFile.h"
#include "symbollists/zkSymbolListModel.h"
#include "zkFuzzCheck.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = ReadSymbolFileLines(bytes);

    QString text = DecodeSymbolFile(bytes);
    Check(!text.contains(QChar(0)));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    if (text.endsWith(u'\n'))
        text.chop(1);
    if (lines.isEmpty())
        Check(text.isEmpty() && (DecodeSymbolFile(bytes).isEmpty()));
    else
        Check(lines.join(u'\n') == text);
    for (const QString& line : lines)
        Check(!line.contains(u'\r') && !line.contains(u'\n'));
    Check(ReadSymbolFileLines(EncodeSymbolFile(lines)) == lines);

    const QStringList symbols = NormalizeSymbolLines(lines);
    for (qsizetype i = 0; i < symbols.size(); ++i) {
        const QString& s = symbols.at(i);
        Check(!s.isEmpty() && s == ApplySymbolRule(s));
        if (i > 0)
            Check(CompareSymbols(symbols.at(i - 1), s) < 0);
    }
    Check(NormalizeSymbolLines(symbols) == symbols);
    TSymbolSet set;
    set.Assign(symbols);
    for (const QString& line : lines) {
        const QString s = ApplySymbolRule(line);
        Check(s.isEmpty() || set.Contains(s));
    }
    return 0;
}
