#include "serverprobe.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

ProbeAnswer down(int statusCode, const QString &reason)
{
    return {statusCode, {ErrorNumber::UserError, reason.toStdString()}};
}

} // namespace

ServerProbe::ServerProbe(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
}

bool ServerProbe::start(const QUrl &url)
{
    if (m_reply || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return false;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Nor may a cache on the way (a proxy, the server's own) answer for the server.
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    // So that a server's access log tells the kiosk's checks from its visitors' pages.
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("tesmora/" TESMORA_VERSION_TEXT " (server check)"));
    m_url = url;
    m_seconds = 0;
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, [this] {
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            return finish(down(0, m_reply->errorString()));
        const int code = status.toInt();
        finish(code < 400 ? ProbeAnswer{code, {}}
                          : down(code, m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
    });
    return true;
}

void ServerProbe::secondPassed(int16_t limitSeconds)
{
    if (m_reply && ++m_seconds > limitSeconds)
        finish(down(0, QStringLiteral("no answer in time")));
}

void ServerProbe::finish(const ProbeAnswer &answer)
{
    // Taken off first: the receiver may start the next question at once.
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    const QUrl url = m_url;
    emit answered(url, answer);
}
