// The activation socket's command lines, which any program of the user can send: parsing
// never fails, a link command carries no line break or control character on, and every link
// goes through the command that carries it unchanged.
#include "platform/zkInstance.h"
#include "zkFuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    const QByteArray line(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto command = TInstanceGuard::ParseCommand(line)) {
        if (command->Kind == TInstanceGuard::TCommand::Link) {
            for (const QChar c : command->LinkText)
                Check(c.unicode() >= 0x20 || c == QLatin1Char('\t'));
        } else {
            Check(command->LinkText.isEmpty());
        }
    }
    const QString link = QString::fromUtf8(line);
    const auto sent = TInstanceGuard::ParseCommand(TInstanceGuard::LinkCommand(link));
    bool control = false;
    for (const QChar c : link)
        control = control || (c.unicode() < 0x20 && c != QLatin1Char('\t'));
    Check(sent.has_value() != control);
    if (sent)
        Check(sent->Kind == TInstanceGuard::TCommand::Link && sent->LinkText == link);
    return 0;
}
