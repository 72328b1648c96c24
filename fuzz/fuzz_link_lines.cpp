// The link broker's line protocol as programs send it, in chunks of any size: a line is never
// held beyond the limit, a command names a list, and the same bytes cut differently give the
// same commands.
#include "linking/zkLinkBroker.h"
#include "platform/zkLineReader.h"
#include "zkFuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::vector<std::pair<bool, QString>> Commands(QByteArrayView bytes, qsizetype chunk) {
    std::vector<std::pair<bool, QString>> commands;
    TLineReader reader(TLinkBroker::MaxLineBytes);
    for (qsizetype at = 0; at < bytes.size(); at += chunk)
        reader.Feed(bytes.sliced(at, std::min(chunk, bytes.size() - at)), [&](const QByteArray& line, bool tooLong) {
            Check(line.size() <= TLinkBroker::MaxLineBytes && !line.contains('\n'));
            if (tooLong) {
                Check(line.isEmpty());
                return true;
            }
            if (const auto command = TLinkBroker::ParseLine(line)) {
                Check(!command->ListName.isEmpty());
                commands.emplace_back(command->Link, command->ListName);
            }
            return true;
        });
    return commands;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64 * 1024)
        return 0;
    const qsizetype chunk = 1 + data[0] % 64;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    Check(Commands(bytes, chunk) == Commands(bytes, bytes.size() + 1));
    return 0;
}
