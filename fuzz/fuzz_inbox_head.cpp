// Request heads of the alert inbox's webhook, whole and in two pieces. Properties: a head is
// found the same way however its bytes arrive, never past the limit, and what is read of it
// holds no line break or blank where the server relies on there being none.
#include "inbox/zkInboxHttp.h"
#include "zkFuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64 * 1024)
        return 0;
    const qsizetype limit = 1 + qsizetype(data[0]) * 64; // 1 .. 16321 bytes
    const QByteArray buffer(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    THttpRequestHead whole;
    qsizetype scan = 0, bytes = 0;
    const zkInboxHttp::THeadStatus status =
        zkInboxHttp::ParseRequestHead(buffer, limit, scan, whole, bytes, nullptr);

    // The same bytes in two arrivals.
    const qsizetype split = buffer.size() / 2;
    THttpRequestHead pieces;
    qsizetype scan2 = 0, bytes2 = 0;
    zkInboxHttp::THeadStatus status2 = zkInboxHttp::ParseRequestHead(
        QByteArrayView(buffer).first(split), limit, scan2, pieces, bytes2, nullptr);
    if (status2 == zkInboxHttp::THeadStatus::Incomplete)
        status2 = zkInboxHttp::ParseRequestHead(buffer, limit, scan2, pieces, bytes2, nullptr);
    else
        return 0; // decided on the first half already: nothing to compare
    Check(status2 == status);
    if (status != zkInboxHttp::THeadStatus::Complete)
        return 0;
    Check(bytes == bytes2 && bytes <= limit && bytes <= buffer.size());
    Check(whole.Method == pieces.Method && whole.Path == pieces.Path &&
          whole.ContentLength == pieces.ContentLength);
    Check(whole.Path.startsWith('/'));
    for (const char c : whole.Path + whole.Query)
        Check(static_cast<unsigned char>(c) > 0x20 && c != 0x7f);
    Check(!whole.ContentType.contains('\n') && !whole.Authorization.contains('\r'));
    Check(whole.ContentLength >= -1);
    return 0;
}
