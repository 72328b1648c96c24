// velquist-http.so: the client's HTTP(S) GETs through QtNetwork, opened by the client the first
// time it makes one (platform/zkHttpModule.h). It uses nothing of the client but that header.

#include "platform/zkHttpModule.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {

class TRequests final : public zkHttp::IRequests {
public:
    ~TRequests() override {
        // The callbacks first: deleting the manager aborts its replies, and a finished reply
        // must not call into an owner that is going away.
        Context.reset();
        Manager.reset();
    }

    void Get(const QUrl& url, int timeoutMs, qint64 maxBodyBytes, zkHttp::TDone done) override {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(10);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velquist"));
        QNetworkReply* reply = Manager->get(request);

        // A body beyond the bound is no answer we want: stop reading and report a failure. The
        // announced length is enough to know; a trickling server is stopped by the deadline.
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [reply, maxBodyBytes](qint64 received, qint64 total) {
                             if (received > maxBodyBytes || total > maxBodyBytes)
                                 reply->abort();
                         });
        // A deadline for the whole answer, not only for silence: a server that sends a byte now
        // and then must not hold the request open for ever.
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline->start(timeoutMs);
        QObject::connect(reply, &QNetworkReply::finished, Context.get(),
                         [reply, maxBodyBytes, done = std::move(done)] {
                             reply->deleteLater();
                             const QVariant status =
                                 reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                             const bool httpFailed =
                                 status.isValid() && (status.toInt() < 200 || status.toInt() > 299);
                             if (reply->error() != QNetworkReply::NoError || httpFailed) {
                                 done(false, QByteArray());
                                 return;
                             }
                             const QByteArray body = reply->readAll();
                             if (body.size() > maxBodyBytes)
                                 done(false, QByteArray());
                             else
                                 done(true, body);
                         });
    }

private:
    std::unique_ptr<QObject> Context = std::make_unique<QObject>();
    std::unique_ptr<QNetworkAccessManager> Manager = std::make_unique<QNetworkAccessManager>();
};

} // namespace

extern "C" __attribute__((visibility("default"))) zkHttp::IRequests*
velquist_http_create(int interfaceVersion) {
    if (interfaceVersion != zkHttp::InterfaceVersion)
        return nullptr;
    return new TRequests();
}
