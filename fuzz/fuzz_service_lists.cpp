// The service's list file: reading never fails, ids are unique, no list repeats a symbol, and
// what is written out reads back as the very same lists.
#include "components/zkSimSymbolLists.h"
#include "zkFuzzCheck.h"

#include <QSet>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QString problem;
    const std::vector<TSimList> lists = ParseSimLists(text, &problem);
    Check(problem.isEmpty() || lists.empty());
    QSet<int32_t> ids;
    for (const TSimList& list : lists) {
        Check(!ids.contains(list.Id));
        ids.insert(list.Id);
        Check(QSet<QString>(list.Symbols.begin(), list.Symbols.end()).size() == list.Symbols.size());
    }
    QString again;
    const std::vector<TSimList> reread = ParseSimLists(SimListsText(lists), &again);
    Check(again.isEmpty() && reread.size() == lists.size());
    for (size_t i = 0; i < lists.size(); ++i)
        Check(reread[i].Id == lists[i].Id && reread[i].Name == lists[i].Name &&
              reread[i].Symbols == lists[i].Symbols);
    return 0;
}
