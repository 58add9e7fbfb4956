#pragma once

#include "hostallowlist.h"
#include "navigator.h"
#include "pagewatchdog.h"

#include <QObject>
#include <QUrl>

#include <cstdint>
#include <optional>

class KioskLog;
class KioskPage;
class PageDialog;
class QWebEngineProfile;
class QWebEngineView;
class ServerAnswersOnly;
class ServerList;
struct KioskSettings;

// The kiosk's browser: a session (an off-the-record profile and its KioskPage) shown in the view
// it is given, with the page's questions asked in the dialog it is given. Every session starts
// from nothing: no cookies, storage, cache or history survive a restart or a new session.
// The pages the kiosk asks for itself, and every page after a failed one until a page of the
// service has loaded, come from their server, never from the cache: only the server can say that
// the service is back.
class KioskBrowser : public QObject, public Navigator, public WatchedPage
{
    Q_OBJECT
public:
    KioskBrowser(QWebEngineView *view, PageDialog *dialog, QObject *parent = nullptr);
    ~KioskBrowser() override;

    // The browser policy of the settings: file pages only when the error page or a server is a
    // file, the hosts of allowed_hosts (its unusable entries logged), load_timeout.
    void configure(const KioskSettings &settings, const ServerList &servers, const KioskLog &log);
    // tmrLoadTimeout, once a second.
    void secondPassed();
    void startNewSession() override;

    // What the page watchdog looks at and does.
    void askScript(std::function<void()> answered) override;
    QImage picture() const override;
    bool loading() const override;
    QUrl address() const override;
    std::optional<long> rendererMemoryKiB() const override;
    long rendererPid() const override;
    void endRenderer(std::function<void()> then) override;
    void reloadFromServer() override;

    KioskPage *page() const { return m_page; }

signals:
    // Every address asked for, as it is asked.
    void navigationRequested(const QString &address);
    void navigateError(const QUrl &url, int statusCode, const QString &description);
    void navigationRefused(const QUrl &url);
    // A page, or the kiosk's own text, finished loading.
    void documentComplete(const QUrl &url);

protected:
    void load(const QString &address) override;
    void showHtml(const QString &html) override;

private:
    void createSession();

    QWebEngineView *m_view;
    PageDialog *m_dialog;
    QWebEngineProfile *m_profile = nullptr;
    KioskPage *m_page = nullptr;
    ServerAnswersOnly *m_serverAnswers = nullptr;
    int16_t m_loadTimeout = 30;
    bool m_filePagesAllowed = false;
    std::optional<HostAllowList> m_allowedHosts;
};
