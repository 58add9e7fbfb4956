#include "kioskpage.h"

#include "platform.h"

#include <QCoreApplication>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>

KioskPage::KioskPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        // HTTP answers of 400 and more arrive here as failures of the HTTP status domain.
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            emit navigateError(info.url(), info.errorCode(), info.errorString());
    });
    connect(this, &QWebEnginePage::renderProcessTerminated, this,
            [this](RenderProcessTerminationStatus status, int exitCode) {
                // Without a renderer the screen stays dead until someone loads a page again.
                if (status != NormalTerminationStatus)
                    emit navigateError(url(), exitCode, QStringLiteral("render process ended"));
            });
    connect(this, &QWebEnginePage::certificateError, this,
            [](const QWebEngineCertificateError &error) {
                QWebEngineCertificateError handle = error; // copies share the pending decision
                handle.rejectCertificate();
            });
}

QWebEnginePage *KioskPage::createWindow(WebWindowType)
{
    // A kiosk has no second window: links and scripts that ask for one get nothing.
    return nullptr;
}

void prepareBrowserEngine()
{
    if (platform::runningAsRoot())
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
