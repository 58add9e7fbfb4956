#include "kioskpage.h"

#include "pagedialog.h"
#include "platform.h"

#include <QAuthenticator>
#include <QColorDialog>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QUuid>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWheelEvent>

#include <algorithm>

KioskPage::KioskPage(QWebEngineProfile *profile, PageDialog *dialog, QObject *parent)
    : QWebEnginePage(profile, parent)
    , m_dialog(dialog)
{
    connect(this, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            m_loadTicks = 0;
        // HTTP answers of 400 and more arrive here as failures of the HTTP status domain.
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            emit navigateError(info.url(), info.errorCode(), info.errorString());
    });
    connect(this, &QWebEnginePage::renderProcessTerminated, this,
            [this](RenderProcessTerminationStatus status, int exitCode) {
                if (m_afterRendererEnd)
                    return std::exchange(m_afterRendererEnd, {})();
                // Without a renderer the screen stays dead until someone loads a page again.
                if (status != NormalTerminationStatus)
                    emit navigateError(url(), exitCode, QStringLiteral("render process ended"));
            });
    connect(this, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError &error) {
        QWebEngineCertificateError handle = error; // copies share the pending decision
        handle.rejectCertificate();
    });

    // What a page may ask of the machine (location, camera, microphone, screen, notifications)
    // is refused without asking anyone.
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl &origin, Feature feature) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    // A log-in asked for by the server is cancelled: the page gets the server's refusal.
    const auto noLogIn = [](const QUrl &, QAuthenticator *authenticator) { *authenticator = QAuthenticator(); };
    connect(this, &QWebEnginePage::authenticationRequired, this, noLogIn);
    connect(
        this, &QWebEnginePage::proxyAuthenticationRequired, this,
        [noLogIn](const QUrl &url, QAuthenticator *authenticator, const QString &) { noLogIn(url, authenticator); });

    watchFrameDocuments();
    // The view's input arrives at a widget the engine makes and remakes, so the whole
    // application is watched.
    QCoreApplication::instance()->installEventFilter(this);
}

void KioskPage::watchFrameDocuments()
{
    // The engine tells neither frame failures nor frame loads; a script of ours that runs in every
    // frame that gets a document says which ones did. It runs apart from the page's scripts, and
    // the random tag keeps a page's own console lines from passing for its reports.
    m_frameDocumentTag = QStringLiteral("tesmora-frame-document-%1 ").arg(QUuid::createUuid().toString(QUuid::Id128));
    QWebEngineScript script;
    script.setName(QStringLiteral("tesmora-frame-documents"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(
        QStringLiteral("if (window !== window.top) console.log('%1' + location.href);").arg(m_frameDocumentTag));
    scripts().insert(script);
}

void KioskPage::secondPassed(int16_t limitSeconds)
{
    std::optional<QUrl> late;
    if (!isLoading())
        m_loadTicks = 0;
    else if (++m_loadTicks > limitSeconds)
        late = requestedUrl();
    for (PendingFrame &frame : m_pendingFrames) {
        if (++frame.ticks > limitSeconds && !late)
            late = frame.url;
    }
    if (!late)
        return;
    m_loadTicks = 0;
    m_pendingFrames.clear();
    m_redirectedFrames.clear();
    if (isLoading())
        triggerAction(Stop);
    emit navigateError(*late, 0, QStringLiteral("no answer in time"));
}

void KioskPage::endRenderer(std::function<void()> then)
{
    const qint64 pid = renderProcessPid();
    if (pid <= 0)
        return then();
    m_afterRendererEnd = std::move(then);
    platform::killProcess(static_cast<long>(pid));
}

bool KioskPage::schemeAllowed(const QUrl &url, NavigationType type, bool isMainFrame) const
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("blob"))
        return true;
    if (scheme == QLatin1String("file"))
        return m_filePagesAllowed;
    // The kiosk's own text arrives as a data: address. Only the kiosk's own load calls are typed
    // navigations: a page cannot make one.
    if (scheme == QLatin1String("data"))
        return isMainFrame && type == NavigationTypeTyped;
    // Frames a page fills itself.
    if (scheme == QLatin1String("about"))
        return !isMainFrame && (url.path() == QLatin1String("blank") || url.path() == QLatin1String("srcdoc"));
    // Any other scheme the engine cannot show itself goes to the desktop, which starts the
    // program that takes it (a mail client, a file manager) over the kiosk.
    return false;
}

bool KioskPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!schemeAllowed(url, type, isMainFrame)) {
        emit navigationRefused(url);
        return false;
    }
    if (isMainFrame) {
        // A blob: address shows a document made by a page of the host inside it, which may be a
        // frame's: that host is the one to check.
        const QUrl shown = url.scheme() == QLatin1String("blob") ? QUrl(url.path()) : url;
        const bool web = shown.scheme() == QLatin1String("http") || shown.scheme() == QLatin1String("https");
        if (web && m_allowedHosts && !m_allowedHosts->allows(hostOf(shown))) {
            emit navigationRefused(shown);
            return false;
        }
        // A new top-level page: the frames of the old one no longer count.
        m_pendingFrames.clear();
        m_redirectedFrames.clear();
    } else if (type == NavigationTypeRedirect) {
        m_redirectedFrames.push_back(url);
    } else {
        m_pendingFrames.push_back({url, 0});
    }
    return true;
}

void KioskPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                         const QString &sourceID)
{
    if (!message.startsWith(m_frameDocumentTag)) {
        QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
        return;
    }
    const QUrl document(message.mid(m_frameDocumentTag.size()));
    const auto sameAddress = [&](const QUrl &url) { return url.matches(document, QUrl::RemoveFragment); };
    const auto frame = std::find_if(m_pendingFrames.begin(), m_pendingFrames.end(),
                                    [&](const PendingFrame &f) { return sameAddress(f.url); });
    if (frame != m_pendingFrames.end()) {
        m_pendingFrames.erase(frame);
        return;
    }
    // A redirected frame arrives under its new address, which no request named: it answers for the
    // frame that has waited longest. Documents nobody asked for (an empty frame) answer for none.
    const auto redirect = std::find_if(m_redirectedFrames.begin(), m_redirectedFrames.end(), sameAddress);
    if (redirect != m_redirectedFrames.end() && !m_pendingFrames.empty()) {
        m_redirectedFrames.erase(redirect);
        m_pendingFrames.pop_front();
    }
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
    case QEvent::Show:
        // The engine answers <input type="color"> with Qt's colour window: a window of its own over
        // the kiosk, which outlives the page. Its show event comes before the window system is
        // asked to show it, so here it is kept off the screen and from blocking the kiosk, and it
        // is cancelled at the next turn of the event loop: the input keeps its colour. A script
        // in the page could not close every way of opening it (a click, a key, showPicker()).
        if (auto *chooser = qobject_cast<QColorDialog *>(watched)) {
            chooser->setAttribute(Qt::WA_DontShowOnScreen);
            chooser->setWindowModality(Qt::NonModal);
            QMetaObject::invokeMethod(
                chooser,
                [chooser] {
                    if (chooser->isVisible())
                        chooser->reject();
                },
                Qt::QueuedConnection);
        }
        [[fallthrough]];
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
    if (msg
        == QCoreApplication::translate("QWebEnginePage",
                                       "Are you sure you want to leave this page? "
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

std::string hostOf(const QUrl &url)
{
    return url.host(QUrl::EncodeUnicode).toStdString();
}

void prepareBrowserEngine()
{
    if (platform::runningAsRoot())
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Through a debugging port any web page that finds it can take the browser over.
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", browserEngineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // A platform's own colour window would be on screen before the page could refuse it; Qt's is
    // refused before it shows.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}
