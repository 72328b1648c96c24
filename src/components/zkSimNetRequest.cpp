#include "zkSimNetRequest.h"

#include "platform/zkErrors.h"
#include "platform/zkHttpModule.h"

#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

TSimNetRequestX::TSimNetRequestX() = default;

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

    if (!Requests)
        Requests.reset(zkHttp::Create());
    if (!Requests) {
        // As a request that found no network: one empty result, after the call returns.
        QTimer::singleShot(0, this, [this] { emit OnResult(QString()); });
        return;
    }
    Requests->Get(target, TimeoutMs, MaxBodyBytes, [this](bool ok, const QByteArray& body) {
        emit OnResult(ok ? DecodeBody(body) : QString());
    });
}
