#include "kioskpage.h"

#include "pagedialog.h"
#include "platform.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWheelEvent>

KioskPage::KioskPage(QWebEngineProfile *profile, PageDialog *dialog, QObject *parent)
    : QWebEnginePage(profile, parent)
    , m_dialog(dialog)
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

    // What a page may ask of the machine (location, camera, microphone, screen, notifications)
    // is refused without asking anyone.
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, Feature feature) { setFeaturePermission(origin, feature, PermissionDeniedByUser); });
    // A log-in asked for by the server is cancelled: the page gets the server's refusal.
    const auto noLogIn = [](const QUrl &, QAuthenticator *authenticator) { *authenticator = QAuthenticator(); };
    connect(this, &QWebEnginePage::authenticationRequired, this, noLogIn);
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [noLogIn](const QUrl &url, QAuthenticator *authenticator, const QString &) { noLogIn(url, authenticator); });

    // The view's input arrives at a widget the engine makes and remakes, so the whole
    // application is watched.
    QCoreApplication::instance()->installEventFilter(this);
}

bool KioskPage::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        // The engine goes back and forward on the mouse's side buttons; the page's own links do that.
        const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
        return button == Qt::BackButton || button == Qt::ForwardButton;
    }
    case QEvent::Wheel:
        // The page stays at 100 %: the engine zooms on the wheel with Ctrl and on a touchpad's
        // pinch (a touch screen's pinch is off in the engine itself).
        return static_cast<QWheelEvent *>(event)->modifiers().testFlag(Qt::ControlModifier);
    case QEvent::NativeGesture: {
        const Qt::NativeGestureType gesture = static_cast<QNativeGestureEvent *>(event)->gestureType();
        return gesture == Qt::ZoomNativeGesture || gesture == Qt::SmartZoomNativeGesture;
    }
    default:
        return QWebEnginePage::eventFilter(watched, event);
    }
}

QWebEnginePage *KioskPage::createWindow(WebWindowType)
{
    // A kiosk has no second window: links and scripts that ask for one get nothing.
    return nullptr;
}

QStringList KioskPage::chooseFiles(FileSelectionMode, const QStringList &, const QStringList &)
{
    // A file chooser would show the machine's folders to anyone at the screen.
    return {};
}

void KioskPage::javaScriptAlert(const QUrl &, const QString &msg)
{
    m_dialog->ask(PageDialog::Kind::Alert, msg);
}

bool KioskPage::javaScriptConfirm(const QUrl &, const QString &msg)
{
    // The engine asks "leave this page?" through here when a page objects to being left. An
    // unattended kiosk must always be able to leave (its countdown, its buttons), so it leaves.
    if (msg == QCoreApplication::translate("QWebEnginePage", "Are you sure you want to leave this page? "
                                                             "Changes that you made may not be saved."))
        return true;
    return m_dialog->ask(PageDialog::Kind::Confirm, msg);
}

bool KioskPage::javaScriptPrompt(const QUrl &, const QString &msg, const QString &defaultValue, QString *result)
{
    QString value = defaultValue;
    const bool answered = m_dialog->ask(PageDialog::Kind::Prompt, msg, &value);
    if (answered && result)
        *result = value;
    return answered;
}

namespace {

// The engine's flags from the environment without those that open a debugging port, with pinch
// zoom off.
QByteArray browserEngineFlags(const QByteArray &fromEnvironment)
{
    QByteArrayList flags;
    for (const QByteArray &flag : fromEnvironment.simplified().split(' ')) {
        if (!flag.isEmpty() && !flag.startsWith("--remote-debugging") && !flags.contains(flag))
            flags.append(flag);
    }
    if (!flags.contains("--disable-pinch"))
        flags.append("--disable-pinch");
    return flags.join(' ');
}

} // namespace

void prepareBrowserEngine()
{
    if (platform::runningAsRoot())
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Through a debugging port any web page that finds it can take the browser over.
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", browserEngineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
