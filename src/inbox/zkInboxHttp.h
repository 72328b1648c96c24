#pragma once

// The head of an HTTP/1.x request (request line and header fields), read without a socket so
// that it can be tested and fuzzed on its own. Deliberately strict: what a sender may mean in
// two ways (folded lines, a blank before the colon, two different lengths, a length beside a
// transfer coding) is refused rather than guessed.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

struct THttpRequestHead {
    QByteArray Method;
    QByteArray Path;           // the target's path up to "?", still percent-encoded
    QByteArray Query;          // after "?", without it
    int MinorVersion = 1;      // HTTP/1.<minor>
    qint64 ContentLength = -1; // -1: no Content-Length field
    bool HasTransferEncoding = false;
    bool KeepAlive = true; // what the version and the Connection field ask for
    bool ExpectContinue = false;
    bool HasHost = false;
    QByteArray ContentType;
    QByteArray Authorization;
};

namespace zkInboxHttp {

enum class THeadStatus {
    Incomplete, // no end of the head yet, and still within the limit
    Complete,   // *headBytes bytes make the head, blank line included
    TooLarge,   // the head is (or would be) longer than maxHeadBytes
    Bad,        // not a request we understand; *problem says why
    BadVersion, // HTTP/2 and later, or not HTTP/1.x
};

// Looks for a whole head at the start of buffer (lines end in CRLF or a bare LF) and reads it.
// scanFrom lets a caller that keeps adding bytes skip what it already searched; it is updated.
THeadStatus ParseRequestHead(QByteArrayView buffer, qsizetype maxHeadBytes, qsizetype& scanFrom,
                             THttpRequestHead& head, qsizetype& headBytes, const char** problem);

// True when the header value is a comma-separated list holding token (case-insensitively).
bool ListHasToken(QByteArrayView list, QByteArrayView token);

} // namespace zkInboxHttp
