#include "frmtesmora.h"

#include "fileops.h"
#include "kioskpage.h"
#include "layout.h"
#include "metricsfile.h"
#include "pagedialog.h"
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
#include <QWebEngineView>

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
    // The view goes before its page, the page before its profile.
    delete WebBrowser;
    delete m_browser;
}

namespace {

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

void frmTesmora::createControls()
{
    WebBrowser = new QWebEngineView(this);
    WebBrowser->setContextMenuPolicy(Qt::NoContextMenu);
    m_dialog = new PageDialog(this);

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
    m_browser = new KioskBrowser(WebBrowser, m_dialog, this);
    m_errors = new NavigationErrors(tmrRestartApp, *m_browser, *m_status, m_counts, m_log, *m_env.clock, this);
    m_watch = new ServerWatch(tmrTestWebServer, m_servers, *m_browser, m_log, this);

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
    connect(m_browser, &KioskBrowser::navigationRequested, this, &frmTesmora::navigationRequested);
    connect(m_browser, &KioskBrowser::navigateError, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_browser, &KioskBrowser::navigationRefused, this, &frmTesmora::WebBrowser_NavigationRefused);
    connect(m_browser, &KioskBrowser::documentComplete, this, &frmTesmora::WebBrowser_DocumentComplete);
    connect(m_watch, &ServerWatch::serverDown, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_errors, &NavigationErrors::countdownEnded, m_watch, &ServerWatch::retryStartPage);
    connect(m_errors, &NavigationErrors::labelChanged, lblStatus, &QLabel::setText);
    connect(m_status, &ServiceStatus::changed, m_errors, &NavigationErrors::statusChanged);
    connect(m_status, &ServiceStatus::changed, m_watch, &ServerWatch::statusChanged);
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
    m_errors->configure(settings);
    m_shutdown->configure(settings);
    // Only now: while the missing-settings message waits, nothing may tick or end the kiosk.
    startTimers();
    watchEndRequests();

    m_servers.configure(settings);
    m_browser->configure(settings, m_servers, m_log);
    m_watch->configure(settings);
    applyFleetSettings();
    Navigate(m_servers.startPage());
    ChangeStatus(ServiceStatus::Play);
}

void frmTesmora::applyFleetSettings()
{
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

void frmTesmora::Navigate(const std::string &address)
{
    m_browser->Navigate(address);
}

void frmTesmora::Navigate2(const std::string &address)
{
    m_browser->Navigate2(address);
}

void frmTesmora::WebBrowser_NavigateError(const QUrl &url, int statusCode, const QString &description)
{
    m_errors->navigateError(url, statusCode, description);
}

void frmTesmora::WebBrowser_DocumentComplete(const QUrl &url)
{
    m_errors->documentComplete(url);
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

void frmTesmora::tmrRestartApp_Timer()
{
    m_errors->countdownTick();
}

void frmTesmora::tmrTestWebServer_Timer()
{
    m_watch->tick();
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
    Navigate(m_servers.startPage());
    ParkMousePointer();
}

void frmTesmora::cmdAdminPannel_Click()
{
    Navigate(m_servers.adminPage());
}

void frmTesmora::cmdLogOut_Click()
{
    Navigate(m_servers.logoutPage());
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
    m_browser->secondPassed();
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
    m_browser->startNewSession();
    m_dialog->setRefusing(false);
    Navigate(m_servers.startPage());
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
         static_cast<double>(m_errors->errorCount()),
         {}},
        {"tesmora_kiosk_last_page_loaded_timestamp_seconds",
         "When a page other than the error page last loaded; 0: none yet.",
         "gauge",
         m_errors->lastPageLoaded() ? seconds(*m_errors->lastPageLoaded()) : 0.0,
         {}},
        {"tesmora_kiosk_server",
         "The server in use.",
         "gauge",
         1,
         {{"index", std::to_string(m_servers.index())}, {"url", m_servers.shownServer()}}},
        {"tesmora_kiosk_info", "The kiosk's version.", "gauge", 1, {{"version", TESMORA_VERSION_TEXT}}},
    };
    m_metricsFile.write(metrics);
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
    if (code == ServiceStatus::Stop)
        close();
}

void frmTesmora::Serviziotesmora(int16_t Avvia)
{
    m_watch->Serviziotesmora(Avvia);
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
