#include "navigator.h"

const QString Navigator::BuiltInErrorHtml =
    QStringLiteral("<!DOCTYPE html><html lang=\"it\"><head><meta charset=\"utf-8\"><title>Tesmora</title></head>"
                   "<body style=\"margin:0;height:100vh;display:flex;align-items:center;justify-content:center;"
                   "background:#00338c;color:white;font-family:sans-serif;text-align:center\">"
                   "<div><h1>Servizio momentaneamente non disponibile</h1>"
                   "<p>Il chiosco riprover\u00e0 tra pochi secondi.</p></div></body></html>");

void Navigator::Navigate(const std::string &address)
{
    m_errorPageRequested = false;
    m_builtInErrorShown = false;
    m_lastRequested = QString::fromStdString(address);
    load(m_lastRequested);
}

void Navigator::Navigate2(const std::string &address)
{
    Navigate(address);
    m_errorPageRequested = true;
}

void Navigator::showBuiltInErrorText()
{
    m_errorPageRequested = true;
    m_builtInErrorShown = true;
    showHtml(BuiltInErrorHtml);
}
