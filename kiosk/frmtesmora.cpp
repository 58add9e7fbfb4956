#include "frmtesmora.h"

#include "fileops.h"
#include "kioskpage.h"
#include "layout.h"
#include "metricsfile.h"
#include "pageaddress.h"
#include "pagedialog.h"
#include "serverprobe.h"
#include "tesmoraart.h"
#include "text.h"
#include "updaterstart.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>

frmTesmora::frmTesmora(KioskEnvironment environment, QWidget *parent)
    : QWidget(parent)
    , m_env(std::move(environment))
    , m_log(m_env.paths.folder, m_env.paths.exeName, *m_env.clock)
    , m_counts(IniFile, m_log.writer())
    , m_metricsFile(m_env.paths.folder, m_log.writer())
{
    setWindowTitle(QStringLiteral("Tesmora"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowIcon(tesmoraIcon());
    resize(twipsToPixels(8610), twipsToPixels(5775));
    createControls();
}

frmTesmora::~frmTesmora()
{
    // The page must go before the profile it was made with.
    delete WebBrowser;
    WebBrowser = nullptr;
    delete m_page;
    m_page = nullptr;
}

namespace {

// A server as the log and the metrics show it: never with a user name and password written in it.
std::string shownServer(const std::string &server)
{
    const QUrl url(QString::fromStdString(server));
    return url.userInfo().isEmpty() ? server : url.toString(QUrl::RemoveUserInfo).toStdString();
}

QPushButton *makeButton(QWidget *parent, const QString &caption, const TwipsRect &design)
{
    auto *b = new QPushButton(caption, parent);
    b->setGeometry(toPixels(design));
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

ClickArea *makeArea(QWidget *parent, const TwipsRect &design)
{
    auto *a = new ClickArea(parent);
    a->setGeometry(toPixels(design));
    return a;
}

} // namespace

void frmTesmora::createBrowserSession()
{
    // Each session starts from nothing: no cookies, storage, cache or history survive a restart
    // or an idle reset.
    m_profile = new QWebEngineProfile(this);
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
    WebBrowser->setPage(m_page);
    connect(m_page, &KioskPage::navigateError, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_page, &KioskPage::navigationRefused, this, &frmTesmora::WebBrowser_NavigationRefused);
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok)
            WebBrowser_DocumentComplete(m_page->url());
    });
}

void frmTesmora::startNewBrowserSession()
{
    // Qt 6.4 has no call that empties a profile's web storage (local storage, IndexedDB); a new
    // off-the-record profile has none, nor cookies or cache. The old page goes before its profile.
    QWebEngineProfile *oldProfile = m_profile;
    KioskPage *oldPage = m_page;
    createBrowserSession();
    delete oldPage;
    delete oldProfile;
    m_dialog->setRefusing(false);
}

void frmTesmora::createControls()
{
    WebBrowser = new QWebEngineView(this);
    m_dialog = new PageDialog(this);
    createBrowserSession();
    WebBrowser->setContextMenuPolicy(Qt::NoContextMenu);

    cmdLogOut = makeButton(this, QStringLiteral("Logout"), Design::cmdLogOut);
    cmdAdminPannel = makeButton(this, QStringLiteral("Passa al pannello amministrativo"), Design::cmdAdminPannel);
    cmdClose = makeButton(this, QStringLiteral("Chiudi"), Design::cmdClose);
    cmdTesmora = makeButton(this, QStringLiteral("Passa alla Tesmora"), Design::cmdTesmora);

    tmrUpdate = new FormTimer(1000, this);
    tmrShutdown = new FormTimer(1000, this);
    tmrRestartApp = new FormTimer(1000, this);

    pitAdmin = new QLabel(this);
    pitAdmin->setGeometry(toPixels(Design::pitAdmin));
    pitAdmin->setPixmap(panelPicture());
    pitAdmin->setAutoFillBackground(true);
    tmrUnloadAdmin = new FormTimer(5000, this);
    lblPlay = makeArea(pitAdmin, Design::lblPlay);
    lblPause = makeArea(pitAdmin, Design::lblPause);
    lblStop = makeArea(pitAdmin, Design::lblStop);

    tmrRefreshPage = new FormTimer(1000, this);
    tmrTestWebServer = new FormTimer(0, this);
    tmrOpenAdmin = new FormTimer(5000, this);
    tmrLoadTimeout = new FormTimer(1000, this);
    tmrIdleReset = new FormTimer(1000, this);
    tmrMetrics = new FormTimer(10000, this);
    m_status = new ServiceStatus(m_log, this);
    m_refreshBar = new RefreshBar(tmrRefreshPage, Design::shpBase.width, Design::shpRiempimento.width, this);
    m_gesture = new OperatorGesture(tmrOpenAdmin, tmrUnloadAdmin, this);
    m_shutdown = new ShutdownRequest(m_env.shutdownRequestFile(), m_counts, this);
    m_updaterStart = std::make_unique<UpdaterStart>(tmrUpdate, m_env.paths, *m_env.clock, m_log);
    m_watchProbe = new ServerProbe(this);
    m_failbackProbe = new ServerProbe(this);

    ptcRefresh = makeArea(this, Design::ptcRefresh);
    ptcStop = makeArea(this, Design::ptcStop);
    for (ClickArea *box : {ptcRefresh, ptcStop}) {
        box->setAlignment(Qt::AlignCenter);
        box->setStyleSheet(QStringLiteral("background: #d4d0c8; border: 1px inset #808080; color: #000060;"));
    }
    ptcRefresh->setText(QStringLiteral("\u21BB"));
    ptcStop->setText(QStringLiteral("\u25A0"));

    shpBase = new QWidget(this);
    shpBase->setGeometry(toPixels(Design::shpBase));
    shpBase->setStyleSheet(QStringLiteral("border: 1px solid black; background: transparent;"));
    shpBase->setAttribute(Qt::WA_StyledBackground);
    shpRiempimento = new QWidget(this);
    shpRiempimento->setGeometry(toPixels(Design::shpRiempimento));
    shpRiempimento->setStyleSheet(QStringLiteral("background: #0000c0;"));
    shpRiempimento->setAttribute(Qt::WA_StyledBackground);

    lblStatus = new QLabel(QStringLiteral("Service in pause"), this);
    lblStatus->setGeometry(toPixels(Design::lblStatus));
    QFont statusFont(QStringLiteral("Arial"));
    statusFont.setPointSizeF(8.25);
    statusFont.setBold(true);
    lblStatus->setFont(statusFont);

    lblButton2 = makeArea(this, Design::lblButton2);
    lblButton1 = makeArea(this, Design::lblButton1);
    // The design draws a single-line border around the panel's areas and the hidden areas until
    // the layout removes it; here they never have one.

    // Stacking: the strip's small controls lie over the buttons, the hidden areas over
    // everything in the strip so that they receive their clicks, the panel over the browser.
    for (QWidget *w :
         {static_cast<QWidget *>(shpBase), shpRiempimento, static_cast<QWidget *>(ptcStop),
          static_cast<QWidget *>(ptcRefresh), static_cast<QWidget *>(lblStatus), static_cast<QWidget *>(lblButton1),
          static_cast<QWidget *>(lblButton2), static_cast<QWidget *>(pitAdmin)})
        w->raise();

    connect(tmrRefreshPage, &QTimer::timeout, this, &frmTesmora::tmrRefreshPage_Timer);
    connect(tmrRestartApp, &QTimer::timeout, this, &frmTesmora::tmrRestartApp_Timer);
    connect(tmrShutdown, &QTimer::timeout, this, &frmTesmora::tmrShutdown_Timer);
    connect(tmrUpdate, &QTimer::timeout, this, &frmTesmora::tmrUpdate_Timer);
    connect(tmrOpenAdmin, &QTimer::timeout, this, &frmTesmora::tmrOpenAdmin_Timer);
    connect(tmrUnloadAdmin, &QTimer::timeout, this, &frmTesmora::tmrUnloadAdmin_Timer);
    connect(tmrLoadTimeout, &QTimer::timeout, this, &frmTesmora::tmrLoadTimeout_Timer);
    connect(tmrTestWebServer, &QTimer::timeout, this, &frmTesmora::tmrTestWebServer_Timer);
    connect(tmrIdleReset, &QTimer::timeout, this, &frmTesmora::tmrIdleReset_Timer);
    connect(tmrMetrics, &QTimer::timeout, this, &frmTesmora::tmrMetrics_Timer);
    connect(m_shutdown, &ShutdownRequest::requested, this, &QWidget::close);
    connect(m_status, &ServiceStatus::statusApplied, this, &frmTesmora::writeMetrics);
    connect(m_status, &ServiceStatus::changed, m_gesture, &OperatorGesture::statusChanged);
    connect(m_status, &ServiceStatus::changed, m_refreshBar, &RefreshBar::statusChanged);
    connect(m_status, &ServiceStatus::changed, this, &frmTesmora::statusChanged);
    connect(m_status, &ServiceStatus::labelChanged, lblStatus, &QLabel::setText);
    connect(m_status, &ServiceStatus::choicesChanged, this, [this](bool play, bool pause) {
        lblPlay->setEnabled(play);
        lblPause->setEnabled(pause);
    });
    connect(m_gesture, &OperatorGesture::panelShown, pitAdmin, &QWidget::setVisible);
    connect(m_refreshBar, &RefreshBar::fillChanged, this, &frmTesmora::showFill);
    connect(m_watchProbe, &ServerProbe::answered, this, &frmTesmora::watchAnswered);
    connect(m_failbackProbe, &ServerProbe::answered, this,
            [this](const QUrl &, const ProbeAnswer &answer) { failbackAnswered(answer); });
    connect(cmdTesmora, &QPushButton::clicked, this, &frmTesmora::cmdTesmora_Click);
    connect(cmdAdminPannel, &QPushButton::clicked, this, &frmTesmora::cmdAdminPannel_Click);
    connect(cmdLogOut, &QPushButton::clicked, this, &frmTesmora::cmdLogOut_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmTesmora::cmdClose_Click);
    connect(lblButton1, &ClickArea::clicked, this, &frmTesmora::lblButton1_Click);
    connect(lblButton2, &ClickArea::clicked, this, &frmTesmora::lblButton2_Click);
    connect(lblPlay, &ClickArea::clicked, this, &frmTesmora::lblPlay_Click);
    connect(lblPause, &ClickArea::clicked, this, &frmTesmora::lblPause_Click);
    connect(lblStop, &ClickArea::clicked, this, &frmTesmora::lblStop_Click);
    connect(ptcStop, &ClickArea::clicked, this, &frmTesmora::ptcStop_Click);
    connect(ptcRefresh, &ClickArea::clicked, this, &frmTesmora::ptcRefresh_Click);
}

void frmTesmora::start()
{
    Form_Load();
    if (!m_ended) {
        showFullScreen();
        m_keepFullScreen = true;
    }
}

void frmTesmora::Form_Load()
{
    // An OS lock, not the lock file: abnormal ends leave "tesmora.lck" behind.
    const auto instance = m_instanceLock.tryLock(m_env.paths.instanceLockFile());
    if (instance == platform::InstanceLock::Result::HeldElsewhere) {
        endAtOnce();
        return;
    }

    // Without it the updater takes the kiosk for ended; the kiosk runs on and says so once it
    // knows where its log goes.
    const ErrorInfo lockWritten = appendLine(m_env.lockFile(), dateTimeText(m_env.clock->localNow()));
    ResizeToScreen();

    const std::filesystem::path settingsPath = m_env.paths.settingsFile();
    const Result<KioskSettings> read = readKioskSettings(settingsPath, IniFile, m_counts);
    if (read.failed()) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tesmora"),
                        QStringLiteral("File di configurazione mancante:\r\n")
                            + QString::fromStdString(settingsPath.string()),
                        QMessageBox::Ok);
        box.exec();
        WriteLog("File di configurazione mancante: impossibile avviare applicazione.");
        endAtOnce();
        return;
    }
    settings = read.value;
    m_log.setEventsLogged(settings.logEvents);
    if (lockWritten.failed())
        WriteLog("Impossibile scrivere tesmora.lck " + errorText(lockWritten));
    FailureLimit = settings.failureLimit;
    RestartCountdown = settings.restartCountdown;
    m_shutdown->configure(settings);
    // Only now: while the missing-settings message waits, nothing may tick or end the kiosk.
    startTimers();
    watchEndRequests();

    ReturnUrl(settings.serverList, ArrayUrl, FailureLimit);
    // The error page is usually a file of the program folder, and a demo's server can be a
    // folder: only then may pages be files.
    const auto isFile = [](const std::string &address) {
        return QUrl(QString::fromStdString(address)).scheme() == QLatin1String("file");
    };
    m_filePagesAllowed = isFile(settings.errorPage) || std::ranges::any_of(ArrayUrl, isFile);
    m_page->setFilePagesAllowed(m_filePagesAllowed);
    applyFleetSettings();
    Navigate(startPageAddress());
    ChangeStatus(2);
}

void frmTesmora::applyFleetSettings()
{
    if (!settings.allowedHosts.empty()) {
        HostAllowList hosts = HostAllowList::fromSettingValue(settings.allowedHosts);
        if (hosts.cutEntry())
            WriteLog("Voce troncata in allowed_hosts (oltre " + std::to_string(IniValueMaxLength) + " caratteri): '"
                     + *hosts.cutEntry() + "'");
        for (const std::string &entry : hosts.refused())
            WriteLog("Voce non valida in allowed_hosts: '" + entry + "'");
        for (const std::string &server : ArrayUrl)
            hosts.allow(hostOf(QUrl(QString::fromStdString(server))));
        hosts.allow(hostOf(QUrl(QString::fromStdString(settings.errorPage))));
        m_allowedHosts = hosts;
        m_page->setAllowedHosts(m_allowedHosts);
    }
    // Without these the timer keeps its interval 0: switched by the status, it never fires.
    if (settings.failover || settings.watchInterval > 0)
        tmrTestWebServer->setInterval(1000);
    if (settings.idleReset > 0) {
        QCoreApplication::instance()->installEventFilter(this);
        tmrIdleReset->setEnabled(true);
    }
    m_metricsFile.setSetting(settings.metricsFile);
    tmrMetrics->setEnabled(m_metricsFile.enabled());
    m_updaterStart->configure(settings);
}

void frmTesmora::startTimers()
{
    for (FormTimer *t : {tmrUpdate, tmrShutdown, tmrUnloadAdmin, tmrTestWebServer, tmrLoadTimeout})
        t->setEnabled(true);
}

void frmTesmora::watchEndRequests()
{
    m_endRequests = std::make_unique<platform::EndRequestWatch>();
    if (m_endRequests->descriptor() == -1)
        return;
    m_endRequestNotifier = new QSocketNotifier(m_endRequests->descriptor(), QSocketNotifier::Read, this);
    connect(m_endRequestNotifier, &QSocketNotifier::activated, this, [this] {
        // The system asks the kiosk to end: it ends as its stop control ends it.
        if (m_endRequests->takeRequest() != 0)
            close();
    });
}

void frmTesmora::ResizeToScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const KioskLayout l = layoutForScreen(screenRect.width() * TwipsPerPixel, screenRect.height() * TwipsPerPixel);

    setGeometry(QRect(screenRect.topLeft(), toPixels(l.window).size()));
    cmdTesmora->setGeometry(toPixels(l.cmdTesmora));
    cmdAdminPannel->setGeometry(toPixels(l.cmdAdminPannel));
    cmdLogOut->setGeometry(toPixels(l.cmdLogOut));
    cmdClose->setGeometry(toPixels(l.cmdClose));
    WebBrowser->setGeometry(toPixels(l.WebBrowser));
    m_dialog->setGeometry(WebBrowser->geometry());
    pitAdmin->setGeometry(toPixels(l.pitAdmin));
    pitAdmin->hide();
    lblButton1->setGeometry(toPixels(l.lblButton1));
    lblButton2->setGeometry(toPixels(l.lblButton2));
    shpBase->setGeometry(toPixels(l.shpBase));
    shpRiempimento->setGeometry(toPixels(l.shpRiempimento));
    m_refreshBar->setWidths(l.shpBase.width, l.shpRiempimento.width);
    lblStatus->setGeometry(toPixels(l.lblStatus));
    ptcStop->setGeometry(toPixels(l.ptcStop));
    ptcRefresh->setGeometry(toPixels(l.ptcRefresh));
}

void frmTesmora::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
    // Whatever takes the window out of full screen (a window manager's keys), it goes back.
    if (event->type() == QEvent::WindowStateChange && m_keepFullScreen && !isFullScreen())
        QMetaObject::invokeMethod(this, &QWidget::showFullScreen, Qt::QueuedConnection);
}

void frmTesmora::Form_Activate()
{
    ParkMousePointer();
}

void frmTesmora::ParkMousePointer()
{
    // The pointer rests in the bottom-right corner, out of the public's way.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        QCursor::setPos(screen, screen->geometry().bottomRight());
}

void frmTesmora::closeEvent(QCloseEvent *event)
{
    // A close from the window system (Alt+F4, a window manager's control) is not one of the
    // kiosk's ends.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    event->accept();
    if (!m_unloading) {
        m_unloading = true;
        Form_Unload();
    }
}

void frmTesmora::Form_Unload()
{
    // Errors ignored: the kiosk ends anyway.
    (void)removeFileIfPresent(m_env.lockFile());
    (void)removeFileIfPresent(m_env.shutdownRequestFile());
    endAtOnce();
}

void frmTesmora::endAtOnce()
{
    m_ended = true;
    for (FormTimer *t : {tmrUpdate, tmrShutdown, tmrRestartApp, tmrRefreshPage, tmrTestWebServer, tmrOpenAdmin,
                         tmrUnloadAdmin, tmrLoadTimeout, tmrIdleReset, tmrMetrics})
        t->setEnabled(false);
    if (m_endRequestNotifier) {
        m_endRequestNotifier->setEnabled(false);
        m_endRequestNotifier->deleteLater();
        m_endRequestNotifier = nullptr;
    }
    m_endRequests.reset();
    m_instanceLock.release();
    m_env.endProcess(0);
}

void frmTesmora::WriteLog(const std::string &message)
{
    m_log.write(message);
}

std::string frmTesmora::startPageAddress() const
{
    return pageAddress(ArrayUrl, ServerIndex, settings.startPage);
}

void frmTesmora::Navigate(const std::string &address)
{
    // A question of the page left waiting would stand in the way of the new one.
    m_dialog->dismiss();
    m_errorPageRequested = false;
    m_builtInErrorShown = false;
    m_lastRequested = QString::fromStdString(address);
    emit navigationRequested(m_lastRequested);
    WebBrowser->load(QUrl(m_lastRequested));
}

void frmTesmora::Navigate2(const std::string &address)
{
    Navigate(address);
    m_errorPageRequested = true;
}

const QString frmTesmora::BuiltInErrorHtml =
    QStringLiteral("<!DOCTYPE html><html lang=\"it\"><head><meta charset=\"utf-8\"><title>Tesmora</title></head>"
                   "<body style=\"margin:0;height:100vh;display:flex;align-items:center;justify-content:center;"
                   "background:#00338c;color:white;font-family:sans-serif;text-align:center\">"
                   "<div><h1>Servizio momentaneamente non disponibile</h1>"
                   "<p>Il chiosco riprover\u00e0 tra pochi secondi.</p></div></body></html>");

void frmTesmora::showBuiltInErrorText()
{
    m_builtInErrorShown = true;
    WebBrowser->setHtml(BuiltInErrorHtml);
}

void frmTesmora::WebBrowser_NavigateError(const QUrl &url, int statusCode, const QString &description)
{
    ++m_navigationErrors;
    m_errorSinceLoad = true;
    const std::string line = "Errore di navigazione: " + url.toString(QUrl::RemoveUserInfo).toStdString() + " ("
        + std::to_string(statusCode) + ")" + (description.isEmpty() ? "" : " " + description.toStdString());
    if (line != m_lastErrorLine)
        logEvent(line);
    m_lastErrorLine = line;
    if (settings.errorPage.empty() && !m_builtInErrorShown) {
        // No error page configured: an empty address would leave the failed page on screen.
        m_errorPageRequested = true;
        showBuiltInErrorText();
    } else if (!m_errorPageRequested) {
        Navigate2(settings.errorPage);
    } else if (!(m_builtInErrorShown && url.scheme() == QLatin1String("data"))) {
        // The error page itself failed: asking for it again would spin as long as it cannot be
        // loaded, so the kiosk shows its own text, which needs no network, and lets the
        // countdown retry the start page.
        showBuiltInErrorText();
    }
    m_status->changeToErrorThroughPause();
}

void frmTesmora::WebBrowser_DocumentComplete(const QUrl &url)
{
    if (m_errorPageRequested)
        return; // the error page, or the kiosk's own text
    m_lastPageLoaded = m_env.clock->now();
    if (!m_errorSinceLoad || tmrRestartApp->isEnabled())
        return;
    m_errorSinceLoad = false;
    logEvent("Pagina di nuovo caricata: " + url.toString(QUrl::RemoveUserInfo).toStdString());
    // The design keeps the error status until a restart; the server checks run only in play, and
    // the metrics would report an error that is over.
    if (returnsToPlay() && m_status->applied() == ServiceStatus::Error)
        ChangeStatus(ServiceStatus::Play);
}

void frmTesmora::WebBrowser_NavigationRefused(const QUrl &url)
{
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    // Of any other address only the scheme, kept short: the rest may carry what a visitor typed.
    const std::string line = "Navigazione rifiutata verso "
        + (web ? hostOf(url) + ": non in allowed_hosts"
               : cutToCharacters(url.scheme().toStdString(), RefusedSchemeShown) + ": schema non consentito");
    const TimePoint now = m_env.clock->now();
    std::erase_if(m_refusedLogged, [&](const auto &entry) { return now - entry.second >= std::chrono::minutes(1); });
    // A page that tries host after host, or scheme after scheme, writes no more than a few lines a
    // minute.
    if (m_refusedLogged.contains(line) || m_refusedLogged.size() >= RefusalsLoggedPerMinute)
        return;
    m_refusedLogged[line] = now;
    WriteLog(line);
}

bool frmTesmora::returnsToPlay() const
{
    return settings.failover || settings.watchInterval > 0 || !settings.metricsFile.empty();
}

void frmTesmora::tmrRestartApp_Timer()
{
    lblStatus->setText(QStringLiteral("Service error %1").arg(RestartCountdown));
    RestartCountdown--;
    if (RestartCountdown == 0) {
        m_lastErrorLine.clear();
        if (settings.failover)
            moveToNextServer();
        Navigate(startPageAddress());
        RestartCountdown = m_counts.read(KioskKeys::timeRestartExe);
        tmrRestartApp->setEnabled(false);
    }
}

void frmTesmora::moveToNextServer()
{
    const std::string before = pageAddress(ArrayUrl, ServerIndex, "");
    const size_t next = static_cast<size_t>(ServerIndex) + 1;
    ServerIndex = next < ArrayUrl.size() && next <= INT16_MAX ? static_cast<int16_t>(next) : 0;
    m_failbackSeconds = 0;
    const std::string server = pageAddress(ArrayUrl, ServerIndex, "");
    if (server != before)
        WriteLog("Passaggio al server " + shownServer(server));
}

bool frmTesmora::onBackupServer() const
{
    return settings.failbackInterval > 0 && pageAddress(ArrayUrl, ServerIndex, "") != pageAddress(ArrayUrl, 0, "");
}

void frmTesmora::tmrTestWebServer_Timer()
{
    m_watchProbe->secondPassed(settings.loadTimeout);
    m_failbackProbe->secondPassed(settings.loadTimeout);
    if (settings.watchInterval > 0 && ++m_watchSeconds >= settings.watchInterval) {
        m_watchSeconds = 0;
        m_watchProbe->start(QUrl(QString::fromStdString(startPageAddress())));
    }
    if (onBackupServer() && ++m_failbackSeconds >= settings.failbackInterval) {
        m_failbackSeconds = 0;
        m_failbackProbe->start(QUrl(QString::fromStdString(pageAddress(ArrayUrl, 0, settings.startPage))));
    }
}

void frmTesmora::watchAnswered(const QUrl &url, const ProbeAnswer &answer)
{
    // An answer that comes when the kiosk no longer plays, or for a server it has left, is old.
    if (answer.failed() && tmrTestWebServer->isEnabled() && url == QUrl(QString::fromStdString(startPageAddress())))
        WebBrowser_NavigateError(url, answer.value, QString::fromStdString(answer.error.description));
}

void frmTesmora::failbackAnswered(const ProbeAnswer &answer)
{
    if (answer.failed() || !tmrTestWebServer->isEnabled() || !onBackupServer())
        return;
    ServerIndex = 0;
    WriteLog("Ritorno al primo server " + shownServer(pageAddress(ArrayUrl, 0, "")));
    Navigate(startPageAddress());
}

void frmTesmora::tmrShutdown_Timer()
{
    m_shutdown->tick();
}

void frmTesmora::tmrUpdate_Timer()
{
    m_updaterStart->tick();
}

void frmTesmora::cmdTesmora_Click()
{
    Navigate(startPageAddress());
    ParkMousePointer();
}

void frmTesmora::cmdAdminPannel_Click()
{
    Navigate(pageAddress(ArrayUrl, ServerIndex, settings.adminPage));
}

void frmTesmora::cmdLogOut_Click()
{
    Navigate(pageAddress(ArrayUrl, ServerIndex, settings.logoutPage));
}

void frmTesmora::cmdClose_Click()
{
    // At once, without the unload handler: the lock file stays.
    endAtOnce();
}

void frmTesmora::lblButton1_Click()
{
    m_gesture->leftCornerClicked();
}

void frmTesmora::lblButton2_Click()
{
    m_gesture->rightCornerClicked();
}

void frmTesmora::tmrOpenAdmin_Timer()
{
    m_gesture->openTimeUp();
}

void frmTesmora::tmrUnloadAdmin_Timer()
{
    m_gesture->hideTimeUp();
}

void frmTesmora::tmrLoadTimeout_Timer()
{
    m_page->secondPassed(settings.loadTimeout);
}

bool frmTesmora::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::TouchBegin || type == QEvent::KeyPress
        || type == QEvent::Wheel)
        IdleSeconds = 0;
    return QWidget::eventFilter(watched, event);
}

void frmTesmora::tmrIdleReset_Timer()
{
    if (IdleSeconds < 0)
        return;
    // An operator at the panel is no idle visitor, and a countdown ends in the start page anyway.
    if (tmrRestartApp->isEnabled() || !pitAdmin->isHidden()) {
        IdleSeconds = 0;
        return;
    }
    if (++IdleSeconds < settings.idleReset)
        return;
    // A page's question waits inside that page's own call, so the page may go only once the call
    // has returned: at the next second. Refused meanwhile, a page asking again cannot hold it off.
    if (m_dialog->waiting()) {
        m_dialog->setRefusing(true);
        m_dialog->dismiss();
        return;
    }
    IdleSeconds = -1;
    WriteLog("Sessione azzerata dopo " + std::to_string(settings.idleReset) + " secondi di inattività");
    startNewBrowserSession();
    Navigate(startPageAddress());
}

void frmTesmora::tmrMetrics_Timer()
{
    writeMetrics();
}

void frmTesmora::writeMetrics()
{
    if (settings.metricsFile.empty())
        return;
    const auto seconds = [](TimePoint t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); };
    const std::vector<Metric> metrics{
        {"tesmora_kiosk_status",
         "Service status: 1 pause, 2 play, 3 stop, 4 error.",
         "gauge",
         static_cast<double>(m_status->applied()),
         {}},
        {"tesmora_kiosk_navigation_errors_total",
         "Navigation errors since the kiosk started.",
         "counter",
         static_cast<double>(m_navigationErrors),
         {}},
        {"tesmora_kiosk_last_page_loaded_timestamp_seconds",
         "When a page other than the error page last loaded; 0: none yet.",
         "gauge",
         m_lastPageLoaded ? seconds(*m_lastPageLoaded) : 0.0,
         {}},
        {"tesmora_kiosk_server",
         "The server in use.",
         "gauge",
         1,
         {{"index", std::to_string(ServerIndex)}, {"url", shownServer(pageAddress(ArrayUrl, ServerIndex, ""))}}},
        {"tesmora_kiosk_info", "The kiosk's version.", "gauge", 1, {{"version", TESMORA_VERSION_TEXT}}},
    };
    m_metricsFile.write(metrics);
}

void frmTesmora::logEvent(const std::string &line)
{
    m_log.event(line);
}

void frmTesmora::lblPlay_Click()
{
    ChangeStatus(2);
}

void frmTesmora::lblPause_Click()
{
    ChangeStatus(1);
}

void frmTesmora::lblStop_Click()
{
    ChangeStatus(3);
}

void frmTesmora::ptcStop_Click()
{
    m_refreshBar->stop();
}

void frmTesmora::ptcRefresh_Click()
{
    m_refreshBar->restart();
}

int16_t frmTesmora::ChangeStatus(const int16_t &Stato)
{
    m_status->change(Stato);
    return 0;
}

void frmTesmora::statusChanged(int16_t code)
{
    switch (code) {
    case ServiceStatus::Pause:
        Serviziotesmora(0);
        break;
    case ServiceStatus::Play:
        Serviziotesmora(1);
        break;
    case ServiceStatus::Stop:
        close();
        break;
    case ServiceStatus::Error:
        tmrRestartApp->setEnabled(true);
        Serviziotesmora(0);
        break;
    default:
        break;
    }
}

void frmTesmora::Serviziotesmora(int16_t Avvia)
{
    if (Avvia == 1)
        tmrTestWebServer->setEnabled(true);
    else if (Avvia == 0)
        tmrTestWebServer->setEnabled(false);
}

void frmTesmora::showFill(float twips)
{
    QRect r = shpRiempimento->geometry();
    r.setWidth(twipsToPixels(twips));
    shpRiempimento->setGeometry(r);
}

void frmTesmora::ResetRefreshBar()
{
    m_refreshBar->reset();
}

void frmTesmora::tmrRefreshPage_Timer()
{
    m_refreshBar->tick();
}
