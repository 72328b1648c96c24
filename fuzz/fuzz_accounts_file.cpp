// The simulated service's accounts file, with its ISO times: reading never fails, an answer is
// either accounts or a reason, and every account taken has a user and, when it expires, a
// valid time in UTC.
#include "components/zkSimService.h"
#include "zkFuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QString problem;
    const auto accounts = ParseSimAccounts(text, &problem);
    Check(accounts.has_value() == problem.isEmpty());
    if (!accounts)
        return 0;
    for (const TSimAccount& account : *accounts) {
        Check(!account.User.isEmpty());
        if (!account.Expires.isNull())
            Check(account.Expires.isValid() && account.Expires.timeSpec() != Qt::LocalTime);
    }
    return 0;
}
