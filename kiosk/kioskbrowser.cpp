#include "kioskbrowser.h"

#include "hostallowlist.h"
#include "kiosklog.h"
#include "kioskpage.h"
#include "kiosksettings.h"
#include "pagedialog.h"
#include "serverlist.h"

#include "clsfileini.h"
#include "platform.h"

#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>

// While strict, a top-level document is asked of its server even when the cache holds a copy
// that its headers call fresh (a static file's Last-Modified alone makes one fresh for a tenth of
// its age): a cached copy says nothing about whether the server is up.
class ServerAnswersOnly : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    bool strict = true;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!strict || info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            return;
        info.setHttpHeader("Cache-Control", "no-cache");
        info.setHttpHeader("Pragma", "no-cache");
    }
};

KioskBrowser::KioskBrowser(QWebEngineView *view, PageDialog *dialog, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_dialog(dialog)
    , m_serverAnswers(new ServerAnswersOnly(this))
{
    createSession();
}

KioskBrowser::~KioskBrowser()
{
    // The page must go before the profile it was made with.
    delete m_page;
    delete m_profile;
}

void KioskBrowser::createSession()
{
    m_profile = new QWebEngineProfile(this);
    m_profile->setUrlRequestInterceptor(m_serverAnswers);
    m_profile->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // An address the engine cannot show itself (mailto:, tel:, smb:, a made-up scheme) would go to
    // the desktop, which starts a program over the kiosk. After a touch the engine asks the page
    // first, which refuses it and logs the refusal; without one the engine drops it unasked.
    // DisallowUnknownUrlSchemes would drop them all unasked, with nothing left to log.
    m_profile->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
    // Downloads are left unanswered: the engine cancels a download nobody accepts, and nothing
    // is saved.
    m_page = new KioskPage(m_profile, m_dialog, this);
    m_page->setAllowedHosts(m_allowedHosts);
    m_page->setFilePagesAllowed(m_filePagesAllowed);
    m_view->setPage(m_page);
    connect(m_page, &KioskPage::navigateError, this, [this](const QUrl &url, int statusCode, const QString &text) {
        m_serverAnswers->strict = true;
        emit navigateError(url, statusCode, text);
    });
    connect(m_page, &KioskPage::navigationRefused, this, &KioskBrowser::navigationRefused);
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (!ok)
            return;
        if (!showsErrorPage())
            m_serverAnswers->strict = false;
        emit documentComplete(m_page->url());
    });
}

void KioskBrowser::startNewSession()
{
    // Qt 6.4 has no call that empties a profile's web storage (local storage, IndexedDB); a new
    // off-the-record profile has none, nor cookies or cache. The old page goes before its profile.
    QWebEngineProfile *oldProfile = m_profile;
    KioskPage *oldPage = m_page;
    createSession();
    delete oldPage;
    delete oldProfile;
}

void KioskBrowser::configure(const KioskSettings &settings, const ServerList &servers, const KioskLog &log)
{
    m_loadTimeout = settings.loadTimeout;
    // The error page is usually a file of the program folder, and a demo's server can be a
    // folder: only then may pages be files.
    const auto isFile = [](const std::string &address) {
        return QUrl(QString::fromStdString(address)).scheme() == QLatin1String("file");
    };
    m_filePagesAllowed = isFile(settings.errorPage) || std::ranges::any_of(servers.entries(), isFile);
    m_page->setFilePagesAllowed(m_filePagesAllowed);
    if (settings.allowedHosts.empty())
        return;
    HostAllowList hosts = HostAllowList::fromSettingValue(settings.allowedHosts);
    if (hosts.cutEntry())
        log.write("Voce troncata in allowed_hosts (oltre " + std::to_string(IniValueMaxLength) + " caratteri): '"
                  + *hosts.cutEntry() + "'");
    for (const std::string &entry : hosts.refused())
        log.write("Voce non valida in allowed_hosts: '" + entry + "'");
    for (const std::string &server : servers.entries())
        hosts.allow(hostOf(QUrl(QString::fromStdString(server))));
    hosts.allow(hostOf(QUrl(QString::fromStdString(settings.errorPage))));
    m_allowedHosts = std::move(hosts);
    m_page->setAllowedHosts(m_allowedHosts);
}

void KioskBrowser::secondPassed()
{
    m_page->secondPassed(m_loadTimeout);
}

void KioskBrowser::load(const QString &address)
{
    // A question of the page left waiting would stand in the way of the new one.
    m_dialog->dismiss();
    m_serverAnswers->strict = true;
    emit navigationRequested(address);
    m_view->load(QUrl(address));
}

void KioskBrowser::showHtml(const QString &html)
{
    m_view->setHtml(html);
}

void KioskBrowser::askScript(std::function<void()> answered)
{
    // In the kiosk's own script world: the page's scripts neither see nor disturb the question.
    m_page->runJavaScript(QStringLiteral("1"), QWebEngineScript::ApplicationWorld,
                          [answered = std::move(answered)](const QVariant &answer) {
                              // A renderer that ends answers nothing, with an empty value.
                              if (answer.isValid())
                                  answered();
                          });
}

QImage KioskBrowser::picture() const
{
    return m_view->grab().toImage();
}

bool KioskBrowser::loading() const
{
    return m_page->isLoading();
}

QUrl KioskBrowser::address() const
{
    return m_page->url();
}

std::optional<long> KioskBrowser::rendererMemoryKiB() const
{
    const long pid = rendererPid();
    return pid > 0 ? platform::processMemoryKiB(pid) : std::nullopt;
}

long KioskBrowser::rendererPid() const
{
    return static_cast<long>(m_page->renderProcessPid());
}

void KioskBrowser::endRenderer(std::function<void()> then)
{
    m_page->endRenderer(std::move(then));
}

void KioskBrowser::reloadFromServer()
{
    m_serverAnswers->strict = true;
    m_page->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}
