#include "zkSimNetRequest.h"

#include "platform/zkErrors.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

TSimNetRequestX::TSimNetRequestX() : Manager(new QNetworkAccessManager(this)) {}

TSimNetRequestX::~TSimNetRequestX() = default;

QString TSimNetRequestX::DecodeBody(const QByteArray& body) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (utf8.hasError())
        return QString::fromLatin1(body);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

void TSimNetRequestX::SendRequest(const QString& url) {
    const QUrl target(url.trimmed(), QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
                              scheme != QLatin1String("file")))
        throw EComponentError(QStringLiteral("Invalid URL \"%1\"").arg(url));

    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velquist"));
    QNetworkReply* reply = Manager->get(request);

    // A body beyond the bound is no answer we want: stop reading and report a failure. The
    // announced length is enough to know; a trickling server is stopped by the deadline.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxBodyBytes || total > MaxBodyBytes)
            reply->abort();
    });
    // A deadline for the whole answer, not only for silence: a server that sends a byte now
    // and then must not hold the check open for ever.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(TimeoutMs);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        QString result;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const bool httpFailed = status.isValid() && (status.toInt() < 200 || status.toInt() > 299);
        if (reply->error() == QNetworkReply::NoError && !httpFailed) {
            const QByteArray body = reply->readAll();
            if (body.size() <= MaxBodyBytes)
                result = DecodeBody(body);
        }
        emit OnResult(result);
    });
}
