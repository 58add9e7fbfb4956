#pragma once

#include <QWebEnginePage>

// The browser policy of the kiosk: no second window ever, certificate errors refused, and every
// failed top-level navigation reported once through navigateError: a load that fails (network,
// certificate, missing file), a page answered with an HTTP status of 400 or more, and a render
// process that dies. Loads superseded by a newer one are not failures.
class KioskPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit KioskPage(QWebEngineProfile *profile, QObject *parent = nullptr);

signals:
    void navigateError(const QUrl &url, int statusCode, const QString &description);

protected:
    QWebEnginePage *createWindow(WebWindowType type) override;
};

// Process-wide set-up of the browser engine, before the application object exists: the engine
// refuses to run as root with its sandbox on, so the sandbox goes off then, and only then.
void prepareBrowserEngine();
