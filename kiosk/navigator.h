#pragma once

#include <QString>

#include <string>

// What the kiosk's rules ask of the browser: a page, the error page, the kiosk's own error text,
// a new session. It keeps what was asked for last; the browser itself is behind load(),
// showHtml() and startNewSession(), which the window's browser implements (and a test may).
class Navigator
{
public:
    virtual ~Navigator() = default;

    // The design's Navigate: asks for a page.
    void Navigate(const std::string &address);
    // The design's Navigate2: asks for the error page.
    void Navigate2(const std::string &address);
    // The kiosk's own text in place of the error page: it needs no network.
    void showBuiltInErrorText();
    // Throws the visitor's session away (cookies, storage, cache, history).
    virtual void startNewSession() = 0;

    // The address last asked for by Navigate or Navigate2.
    const QString &lastRequestedAddress() const { return m_lastRequested; }
    // Since the last Navigate, whether what shows is the error page or the kiosk's own text, not
    // a page of the service.
    bool showsErrorPage() const { return m_errorPageRequested; }
    bool showsBuiltInErrorText() const { return m_builtInErrorShown; }

    static const QString BuiltInErrorHtml;

protected:
    virtual void load(const QString &address) = 0;
    virtual void showHtml(const QString &html) = 0;

private:
    QString m_lastRequested;
    bool m_errorPageRequested = false;
    bool m_builtInErrorShown = false;
};
