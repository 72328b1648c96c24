#include "zkInboxHttp.h"

#include <algorithm>

namespace zkInboxHttp {

namespace {

// RFC 9110 token characters, the only ones a method or a field name may use.
bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool IsToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (!IsTokenChar(c))
            return false;
    return true;
}

QByteArrayView Trimmed(QByteArrayView text) {
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool EqualsNoCase(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The line without its end (CRLF or LF); a CR anywhere else makes the head bad.
bool StripLineEnd(QByteArrayView& line) {
    if (line.endsWith('\r'))
        line.chop(1);
    return !line.contains('\r');
}

THeadStatus Fail(const char** problem, const char* why, THeadStatus status = THeadStatus::Bad) {
    if (problem)
        *problem = why;
    return status;
}

// "http://host[:port]/path?query", as a tunnel or a proxy may pass a request on (RFC 9112
// 3.2.2): the path and query are what count, and the Host field is still required. An empty
// path is "/"; anything else that is not a path (the authority or asterisk form, another
// scheme, a user name before the host) stays refused.
THeadStatus AbsoluteFormPath(QByteArrayView target, QByteArray& path, const char** problem) {
    qsizetype schemeEnd = 0;
    if (target.size() > 7 && EqualsNoCase(target.first(7), "http://"))
        schemeEnd = 7;
    else if (target.size() > 8 && EqualsNoCase(target.first(8), "https://"))
        schemeEnd = 8;
    else
        return Fail(problem, "the target must be a path starting with \"/\"");
    qsizetype authorityEnd = schemeEnd;
    while (authorityEnd < target.size() && target[authorityEnd] != '/' &&
           target[authorityEnd] != '?' && target[authorityEnd] != '#')
        ++authorityEnd;
    const QByteArrayView authority = target.sliced(schemeEnd, authorityEnd - schemeEnd);
    if (authority.isEmpty())
        return Fail(problem, "the target's address has no host");
    if (authority.contains('@'))
        return Fail(problem, "the target's address holds a user name");
    const QByteArrayView rest = target.sliced(authorityEnd);
    path = rest.startsWith('/') ? rest.toByteArray() : '/' + rest.toByteArray();
    return THeadStatus::Complete;
}

THeadStatus ReadRequestLine(QByteArrayView line, THttpRequestHead& head, const char** problem) {
    const qsizetype firstSpace = line.indexOf(' ');
    const qsizetype lastSpace = line.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace == firstSpace)
        return Fail(problem, "malformed request line");
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(lastSpace + 1);
    if (!IsToken(method))
        return Fail(problem, "malformed method");
    for (const char c : target)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return Fail(problem, "the target holds a blank or a control character");
    QByteArray path = target.toByteArray();
    if (!target.isEmpty() && target.front() != '/') {
        const THeadStatus status = AbsoluteFormPath(target, path, problem);
        if (status != THeadStatus::Complete)
            return status;
    }
    if (path.isEmpty() || path.front() != '/')
        return Fail(problem, "the target must be a path starting with \"/\"");
    if (version.size() != 8 || !version.startsWith("HTTP/") || version[6] != '.' ||
        version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9')
        return Fail(problem, "malformed HTTP version");
    if (version[5] != '1')
        return Fail(problem, "only HTTP/1.x is served", THeadStatus::BadVersion);
    head.Method = method.toByteArray();
    const qsizetype question = path.indexOf('?');
    if (question < 0) {
        head.Path = path;
    } else {
        head.Path = path.first(question);
        head.Query = path.sliced(question + 1);
    }
    // A fragment is never sent by a client; one that does is not to be second-guessed.
    if (head.Path.contains('#') || head.Query.contains('#'))
        return Fail(problem, "the target holds a fragment");
    head.MinorVersion = version[7] - '0';
    return THeadStatus::Complete;
}

} // namespace

bool ListHasToken(QByteArrayView list, QByteArrayView token) {
    qsizetype start = 0;
    while (start <= list.size()) {
        qsizetype comma = list.indexOf(',', start);
        if (comma < 0)
            comma = list.size();
        if (EqualsNoCase(Trimmed(list.sliced(start, comma - start)), token))
            return true;
        start = comma + 1;
    }
    return false;
}

THeadStatus ParseRequestHead(QByteArrayView buffer, qsizetype maxHeadBytes, qsizetype& scanFrom,
                             THttpRequestHead& head, qsizetype& headBytes, const char** problem) {
    // The end of the head: an empty line. Searching restarts a little before where the last
    // search stopped, since the "\r\n\r\n" may straddle two arrivals.
    qsizetype end = -1;
    const qsizetype from = scanFrom < 3 ? 0 : scanFrom - 3;
    const qsizetype limit = std::min<qsizetype>(buffer.size(), maxHeadBytes);
    for (qsizetype i = from; i < limit && end < 0; ++i) {
        if (buffer[i] != '\n')
            continue;
        if (i + 1 < buffer.size() && buffer[i + 1] == '\n')
            end = i + 2;
        else if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n')
            end = i + 3;
    }
    if (end > maxHeadBytes || (end < 0 && buffer.size() >= maxHeadBytes))
        return Fail(problem, "the request head is too large", THeadStatus::TooLarge);
    if (end < 0) {
        scanFrom = buffer.size();
        return THeadStatus::Incomplete;
    }
    headBytes = end;
    head = THttpRequestHead();

    // Clients may send blank lines between requests; RFC 9112 lets a server skip them.
    qsizetype start = 0;
    while (start < end && (buffer[start] == '\r' || buffer[start] == '\n'))
        ++start;
    if (start >= end)
        return Fail(problem, "empty request");

    bool first = true;
    bool sawConnectionClose = false, sawKeepAlive = false;
    while (start < end) {
        const qsizetype newline = buffer.indexOf('\n', start);
        QByteArrayView line = buffer.sliced(start, newline - start);
        start = newline + 1;
        if (!StripLineEnd(line))
            return Fail(problem, "a bare carriage return in the head");
        if (line.isEmpty())
            break; // the blank line that ends the head
        if (first) {
            first = false;
            const THeadStatus status = ReadRequestLine(line, head, problem);
            if (status != THeadStatus::Complete)
                return status;
            continue;
        }
        if (line.front() == ' ' || line.front() == '\t')
            return Fail(problem, "folded header lines are not accepted");
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !IsToken(line.first(colon)))
            return Fail(problem, "malformed header field");
        const QByteArrayView name = line.first(colon);
        const QByteArrayView value = Trimmed(line.sliced(colon + 1));
        for (const char c : value)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
                return Fail(problem, "a control character in a header field");
        if (EqualsNoCase(name, "Content-Length")) {
            if (value.isEmpty() || value.size() > 18)
                return Fail(problem, "malformed Content-Length");
            qint64 length = 0;
            for (const char c : value) {
                if (c < '0' || c > '9')
                    return Fail(problem, "malformed Content-Length");
                length = length * 10 + (c - '0');
            }
            if (head.ContentLength >= 0 && head.ContentLength != length)
                return Fail(problem, "two different Content-Length fields");
            head.ContentLength = length;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            head.HasTransferEncoding = true;
        } else if (EqualsNoCase(name, "Connection")) {
            sawConnectionClose = sawConnectionClose || ListHasToken(value, "close");
            sawKeepAlive = sawKeepAlive || ListHasToken(value, "keep-alive");
        } else if (EqualsNoCase(name, "Expect")) {
            head.ExpectContinue = EqualsNoCase(value, "100-continue");
        } else if (EqualsNoCase(name, "Host")) {
            if (head.HasHost)
                return Fail(problem, "two Host fields");
            head.HasHost = true;
        } else if (EqualsNoCase(name, "Content-Type")) {
            head.ContentType = value.toByteArray();
        } else if (EqualsNoCase(name, "Authorization")) {
            if (!head.Authorization.isEmpty())
                return Fail(problem, "two Authorization fields");
            head.Authorization = value.toByteArray();
        }
    }
    if (head.ContentLength >= 0 && head.HasTransferEncoding)
        return Fail(problem, "both Content-Length and Transfer-Encoding");
    if (head.MinorVersion >= 1 && !head.HasHost)
        return Fail(problem, "HTTP/1.1 requests need a Host field");
    head.KeepAlive =
        head.MinorVersion >= 1 ? !sawConnectionClose : sawKeepAlive && !sawConnectionClose;
    return THeadStatus::Complete;
}

} // namespace zkInboxHttp
