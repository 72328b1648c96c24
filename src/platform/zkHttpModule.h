#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

// HTTP(S) GETs live in a module of their own (velquist-http.so, src/http), opened the first time
// a request is made: QtNetwork and the libraries it brings (Kerberos, libproxy, ...) would
// otherwise be loaded by every start of the client. The seam is this interface and one C
// factory; the module uses nothing of the program but Qt.
namespace zkHttp {

// A GET's outcome: the whole body when the answer was a 2xx within the bounds, else Ok false.
using TDone = std::function<void(bool ok, const QByteArray& body)>;

class IRequests {
public:
    virtual ~IRequests() = default;
    // Starts a GET of url (http, https or file), following redirects that do not lower the
    // security. done is called exactly once, from the calling thread's event loop, unless the
    // object is destroyed first: then never. A body over maxBodyBytes fails as soon as it is
    // known to be; no whole answer within timeoutMs fails.
    virtual void Get(const QUrl& url, int timeoutMs, qint64 maxBodyBytes, TDone done) = 0;
};

// The module's one entry point; a module of another interface version returns nullptr.
inline constexpr int InterfaceVersion = 1;
inline constexpr char FactoryName[] = "velquist_http_create";
using TFactory = IRequests*(int interfaceVersion);

inline constexpr char ModuleFileName[] = "velquist-http.so";

// A new IRequests from the module, opened on the first call; nullptr when it cannot be found
// or opened (the reason is logged once, on the first failure).
IRequests* Create();
// Where the module was looked for last, and why it failed (empty once it loaded): for tests.
QString LoadProblem();
// Tests point this at another file (an empty path restores the search); the next Create opens
// it afresh.
void SetModulePathForTesting(const QString& path);

} // namespace zkHttp
