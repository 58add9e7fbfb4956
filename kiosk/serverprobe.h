#pragma once

#include "result.h"

#include <QObject>
#include <QUrl>

#include <cstdint>

class QNetworkAccessManager;
class QNetworkReply;

// What a server answered: the value is the HTTP status, 0 when none came, whether the server is
// up or not; failed when it counts as down, the error's description saying why (the status's
// reason phrase, the connection's failure, "no answer in time").
using ProbeAnswer = Result<int>;

// Asks a web server for one address with a plain HTTP GET outside the browser, on the event loop,
// never blocking it. The server is up when it answers with a status below 400 (redirects are
// followed); an error status, a failed connection, or no answer within the seconds that
// secondPassed() counts is down. Only http and https addresses can be asked.
class ServerProbe : public QObject
{
    Q_OBJECT
public:
    explicit ServerProbe(QObject *parent = nullptr);

    // Starts asking, unless a question is open or the address is not http(s); whether it started.
    bool start(const QUrl &url);

    // Called once a second: a question open for more than limitSeconds seconds ends as down.
    void secondPassed(int16_t limitSeconds);

signals:
    void answered(const QUrl &url, const ProbeAnswer &answer);

private:
    void finish(const ProbeAnswer &answer);

    QNetworkAccessManager *m_network;
    QNetworkReply *m_reply = nullptr;
    QUrl m_url;
    int m_seconds = 0;
};
