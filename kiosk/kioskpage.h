#pragma once

#include "hostallowlist.h"

#include <QWebEnginePage>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class PageDialog;

// The browser policy of the kiosk. A visitor gets no way to the machine or out of the page: no
// second window, no file chooser (the page gets no file), no colour chooser, every permission
// refused unasked, no log-in asked, no zoom, no back and forward from the mouse. A page's alert,
// confirm and prompt are asked in the kiosk window through the PageDialog given.
//
// Every failed navigation is reported once through navigateError: a top-level load that fails
// (network, certificate, missing file) or is answered with an HTTP status of 400 or more, a render
// process that dies, and, counted by secondPassed(), a top-level load that has not finished or a
// frame navigation that has produced no document within the time limit. Loads superseded by a
// newer one are not failures.
//
// No page starts another program: a navigation, of the page or of a frame, to any scheme but
// http and https (mailto:, tel:, smb:, made-up ones, which the engine would hand to the desktop)
// is refused and reported through navigationRefused; the page stays. Allowed besides: file: when
// the kiosk's own pages are files, the kiosk's own text (a data: address it loads itself), blob:,
// and about:blank and about:srcdoc frames.
//
// With a list of allowed hosts, a top-level navigation to an http(s) host outside it (a link, a
// script, a form, a server's redirect) is refused and reported the same way. Frames and what a
// page loads are not filtered by host.
class KioskPage : public QWebEnginePage
{
    Q_OBJECT
public:
    KioskPage(QWebEngineProfile *profile, PageDialog *dialog, QObject *parent = nullptr);

    // Called once a second: a top-level load (stopped first) or a frame navigation that has now
    // waited more than limitSeconds seconds is reported as failed.
    void secondPassed(int16_t limitSeconds);

    // Ends the renderer process at once; `then` runs once it has gone, which is then no navigation
    // error. Without a renderer, `then` runs at once.
    void endRenderer(std::function<void()> then);

    // No list: every host is allowed.
    void setAllowedHosts(std::optional<HostAllowList> hosts) { m_allowedHosts = std::move(hosts); }
    // Off: file: addresses are refused like any other scheme.
    void setFilePagesAllowed(bool allowed) { m_filePagesAllowed = allowed; }

signals:
    void navigateError(const QUrl &url, int statusCode, const QString &description);
    // An http(s) address refused for its host, any other for its scheme.
    void navigationRefused(const QUrl &url);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

private:
    void watchFrameDocuments();
    bool schemeAllowed(const QUrl &url, NavigationType type, bool isMainFrame) const;

    struct PendingFrame
    {
        QUrl url;
        int ticks = 0;
    };

    PageDialog *m_dialog;
    QString m_frameDocumentTag;
    int m_loadTicks = 0; // seconds the running top-level load has taken
    std::deque<PendingFrame> m_pendingFrames; // oldest first
    std::vector<QUrl> m_redirectedFrames; // where frames were sent on to
    std::optional<HostAllowList> m_allowedHosts;
    bool m_filePagesAllowed = false;
    std::function<void()> m_afterRendererEnd; // set while a renderer the kiosk ended goes
};

// An address's host as allow-lists compare it: ASCII, international names in their xn-- form.
std::string hostOf(const QUrl &url);

// Process-wide set-up of the browser engine, before the application object exists: the engine
// refuses to run as root with its sandbox on, so the sandbox goes off then, and only then; no
// remote debugging port, however it is asked for; no pinch zoom; Qt's dialogs, never the platform's.
void prepareBrowserEngine();
