#pragma once

#include <QWebEnginePage>

class PageDialog;

// The browser policy of the kiosk. A visitor gets no way to the machine or out of the page: no
// second window, no file chooser (the page gets no file), every permission refused unasked, no
// log-in asked, no zoom, no back and forward from the mouse. A page's alert, confirm and prompt are
// asked in the kiosk window through the PageDialog given.
//
// Every failed top-level navigation is reported once through navigateError: a load that fails
// (network, certificate, missing file), a page answered with an HTTP status of 400 or more, and a
// render process that dies. Loads superseded by a newer one are not failures.
class KioskPage : public QWebEnginePage
{
    Q_OBJECT
public:
    KioskPage(QWebEngineProfile *profile, PageDialog *dialog, QObject *parent = nullptr);

signals:
    void navigateError(const QUrl &url, int statusCode, const QString &description);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;

private:
    PageDialog *m_dialog;
};

// Process-wide set-up of the browser engine, before the application object exists: the engine
// refuses to run as root with its sandbox on, so the sandbox goes off then, and only then; no
// remote debugging port, however it is asked for; no pinch zoom.
void prepareBrowserEngine();
