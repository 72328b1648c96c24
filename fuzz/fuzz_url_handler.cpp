// Links as web pages hand them over: any text is carried out or ignored without failing (with
// no main window the commands find nothing to act on), and the parameters split back into the
// text they came from.
#include "urlhandler/zkURLHandler.h"
#include "zkFuzzCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    HandleURL(text, TURLCommandTargets{});

    const TStringMap parameters = ParseURLParameters(text);
    // Each pair is one "&"-separated piece that holds "=", in order, split at its first "=".
    QStringList pieces;
    for (const QString& piece : text.split(QLatin1Char('&')))
        if (piece.contains(QLatin1Char('=')))
            pieces << piece;
    Check(parameters.size() == pieces.size());
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        const TStringMapItem& item = parameters[i];
        Check(item.Name + QLatin1Char('=') + item.Value == pieces[i]);
        Check(!item.Name.contains(QLatin1Char('=')));
        // The first pair of a name is the one found.
        Check(FindMapValue(parameters, item.Name) ==
              std::find_if(parameters.begin(), parameters.end(), [&](const TStringMapItem& p) {
                  return p.Name == item.Name;
              })->Value);
    }
    return 0;
}
