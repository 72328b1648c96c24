#pragma once

#include "zkComponents.h"

#include <memory>

namespace zkHttp {
class IRequests;
}

// The net-request component: a real GET over HTTP(S) (file: URLs too), following redirects
// that do not lower the security. Each request started gets exactly one OnResult: the body
// decoded as UTF-8 (Latin-1 when it is not valid UTF-8), or empty text for any failure:
// network error, HTTP status outside 2xx, no whole answer within the time limit, or a body over
// the size bound (cut off as soon as it passes it). The requests themselves are made by the
// HTTP module (platform/zkHttpModule.h), opened at the first one; without it every request
// fails as without a network. It has no face.
class TSimNetRequestX : public IGenericNetRequestX {
    Q_OBJECT
public:
    static constexpr int TransferTimeoutMs = 30000;
    static constexpr qint64 MaxBodyBytes = 1024 * 1024;

    TSimNetRequestX();
    ~TSimNetRequestX() override;
    QWidget* Widget() override { return nullptr; }
    // Throws EComponentError for text that is no URL of a supported scheme.
    void SendRequest(const QString& url) override;

    static QString DecodeBody(const QByteArray& body);

    // The time a whole answer may take, counted from the send (tests shorten it).
    int TimeoutMs = TransferTimeoutMs;

private:
    std::unique_ptr<zkHttp::IRequests> Requests; // made at the first request
};
