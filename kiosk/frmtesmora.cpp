#include "frmtesmora.h"

#include "clickarea.h"
#include "displaypower.h"
#include "fileops.h"
#include "formcontrols.h"
#include "formtimer.h"
#include "kioskpage.h"
#include "kiosksettings.h"
#include "layout.h"
#include "onscreenkeyboard.h"
#include "pagedialog.h"
#include "tesmoraart.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWebEngineView>

frmTesmora::frmTesmora(KioskEnvironment environment, QWidget *parent)
    : QWidget(parent)
    , m_env(std::move(environment))
    , m_log(m_env.paths.folder, m_env.paths.exeName, *m_env.clock)
    , m_counts(IniFile, m_log.writer())
    , m_refusals(m_log, *m_env.clock)
{
    setWindowTitle(QStringLiteral("Tesmora"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowIcon(tesmoraIcon());
    resize(twipsToPixels(8610), twipsToPixels(5775));
    createControls();
    createRules();
    wireRules();
}

frmTesmora::~frmTesmora()
{
    // The view goes before its page, the page before its profile.
    delete WebBrowser;
    delete m_browser;
}

void frmTesmora::createControls()
{
    WebBrowser = named(new QWebEngineView(this), "WebBrowser");
    WebBrowser->setContextMenuPolicy(Qt::NoContextMenu);
    m_dialog = new PageDialog(this);

    cmdLogOut = makeButton(this, "cmdLogOut", QStringLiteral("Logout"), Design::cmdLogOut);
    cmdAdminPannel =
        makeButton(this, "cmdAdminPannel", QStringLiteral("Passa al pannello amministrativo"), Design::cmdAdminPannel);
    cmdClose = makeButton(this, "cmdClose", QStringLiteral("Chiudi"), Design::cmdClose);
    cmdTesmora = makeButton(this, "cmdTesmora", QStringLiteral("Passa alla Tesmora"), Design::cmdTesmora);

    tmrUpdate = named(new FormTimer(1000, this), "tmrUpdate");
    tmrShutdown = named(new FormTimer(1000, this), "tmrShutdown");
    tmrRestartApp = named(new FormTimer(1000, this), "tmrRestartApp");

    pitAdmin = named(new QLabel(this), "pitAdmin");
    pitAdmin->setGeometry(toPixels(Design::pitAdmin));
    pitAdmin->setPixmap(panelPicture());
    pitAdmin->setAutoFillBackground(true);
    tmrUnloadAdmin = named(new FormTimer(5000, this), "tmrUnloadAdmin");
    lblPlay = makeArea(pitAdmin, "lblPlay", Design::lblPlay);
    lblPause = makeArea(pitAdmin, "lblPause", Design::lblPause);
    lblStop = makeArea(pitAdmin, "lblStop", Design::lblStop);

    tmrRefreshPage = named(new FormTimer(1000, this), "tmrRefreshPage");
    tmrTestWebServer = named(new FormTimer(0, this), "tmrTestWebServer");
    tmrOpenAdmin = named(new FormTimer(5000, this), "tmrOpenAdmin");
    tmrLoadTimeout = named(new FormTimer(1000, this), "tmrLoadTimeout");
    tmrIdleReset = named(new FormTimer(1000, this), "tmrIdleReset");
    tmrMetrics = named(new FormTimer(10000, this), "tmrMetrics");
    tmrScreenPower = named(new FormTimer(1000, this), "tmrScreenPower");
    tmrPageCheck = named(new FormTimer(1000, this), "tmrPageCheck");
    tmrScreenshot = named(new FormTimer(1000, this), "tmrScreenshot");
    tmrLockFile = named(new FormTimer(2000, this), "tmrLockFile");

    ptcRefresh = makeArea(this, "ptcRefresh", Design::ptcRefresh);
    ptcStop = makeArea(this, "ptcStop", Design::ptcStop);
    for (ClickArea *box : {ptcRefresh, ptcStop}) {
        box->setAlignment(Qt::AlignCenter);
        box->setStyleSheet(QStringLiteral("background: #d4d0c8; border: 1px inset #808080; color: #000060;"));
    }
    ptcRefresh->setText(QStringLiteral("\u21BB"));
    ptcStop->setText(QStringLiteral("\u25A0"));

    shpBase = named(new QWidget(this), "shpBase");
    shpBase->setGeometry(toPixels(Design::shpBase));
    shpBase->setStyleSheet(QStringLiteral("border: 1px solid black; background: transparent;"));
    shpBase->setAttribute(Qt::WA_StyledBackground);
    shpRiempimento = named(new QWidget(this), "shpRiempimento");
    shpRiempimento->setGeometry(toPixels(Design::shpRiempimento));
    shpRiempimento->setStyleSheet(QStringLiteral("background: #0000c0;"));
    shpRiempimento->setAttribute(Qt::WA_StyledBackground);

    lblStatus = named(new QLabel(QStringLiteral("Service in pause"), this), "lblStatus");
    lblStatus->setGeometry(toPixels(Design::lblStatus));
    QFont statusFont(QStringLiteral("Arial"));
    statusFont.setPointSizeF(8.25);
    statusFont.setBold(true);
    lblStatus->setFont(statusFont);

    lblButton2 = makeArea(this, "lblButton2", Design::lblButton2);
    lblButton1 = makeArea(this, "lblButton1", Design::lblButton1);
    // The design draws a single-line border around the panel's areas and the hidden areas until
    // the layout removes it; here they never have one.

    // Stacking: the strip's small controls lie over the buttons, the hidden areas over
    // everything in the strip so that they receive their clicks, the panel over the browser.
    for (QWidget *w : std::initializer_list<QWidget *>{shpBase, shpRiempimento, ptcStop, ptcRefresh, lblStatus,
                                                       lblButton1, lblButton2, pitAdmin})
        w->raise();
}

void frmTesmora::createRules()
{
    const Clock &clock = *m_env.clock;
    m_browser = new KioskBrowser(WebBrowser, m_dialog, this);
    m_status = new ServiceStatus(m_log, this);
    m_errors = new NavigationErrors(tmrRestartApp, *m_browser, *m_status, m_counts, m_log, clock, this);
    m_watch = new ServerWatch(tmrTestWebServer, m_servers, *m_browser, m_log, this);
    m_gesture = new OperatorGesture(tmrOpenAdmin, tmrUnloadAdmin, this);
    m_screen = new ScreenSchedule(tmrScreenPower, clock, m_log, this);
    m_idleReset = new IdleReset(
        tmrIdleReset, *m_browser, *m_dialog, m_servers, m_log,
        [this] { return m_errors->countdownRunning() || m_gesture->panelOpen() || !m_screen->displayOn(); }, this);
    m_metrics = new KioskMetrics(tmrMetrics, m_env.paths.folder, m_log, *m_status, *m_errors, m_servers, this);
    m_updaterStart = std::make_unique<UpdaterStart>(tmrUpdate, m_env.paths, clock, m_log);
    m_shutdown = new ShutdownRequest(m_env.shutdownRequestFile(), m_counts, this);
    m_refreshBar = new RefreshBar(tmrRefreshPage, Design::shpBase.width, Design::shpRiempimento.width, this);
    m_metrics->showDisplay(*m_screen);
    m_input = new InputWatch(clock, this);
    m_watchdog = new PageWatchdog(
        tmrPageCheck, *m_browser, *m_input, m_log,
        [this] { return m_errors->countdownRunning() || m_browser->showsErrorPage(); }, this);
    m_screenShots = new ScreenShots(tmrScreenshot, this, m_env.paths.folder, *m_input, m_log, clock, this);
    m_metrics->addFigures([this] { return m_watchdog->metrics(); });
    m_metrics->addFigures([this] { return m_screenShots->metrics(); });
}

void frmTesmora::wireRules()
{
    connect(m_browser, &KioskBrowser::navigationRequested, this, &frmTesmora::navigationRequested);
    connect(m_browser, &KioskBrowser::navigateError, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_browser, &KioskBrowser::navigationRefused, this, &frmTesmora::WebBrowser_NavigationRefused);
    connect(m_browser, &KioskBrowser::documentComplete, this, &frmTesmora::WebBrowser_DocumentComplete);
    connect(m_watch, &ServerWatch::serverDown, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_errors, &NavigationErrors::countdownEnded, m_watch, &ServerWatch::retryStartPage);
    connect(m_watchdog, &PageWatchdog::pageFailed, this, &frmTesmora::WebBrowser_NavigateError);
    connect(m_browser, &KioskBrowser::documentComplete, m_watchdog, &PageWatchdog::pageLoaded);

    connect(m_status, &ServiceStatus::statusApplied, m_metrics, &KioskMetrics::write);
    connect(m_screen, &ScreenSchedule::displayChanged, m_metrics, &KioskMetrics::write);
    connect(m_status, &ServiceStatus::changed, m_gesture, &OperatorGesture::statusChanged);
    connect(m_status, &ServiceStatus::changed, m_refreshBar, &RefreshBar::statusChanged);
    connect(m_status, &ServiceStatus::changed, m_errors, &NavigationErrors::statusChanged);
    connect(m_status, &ServiceStatus::changed, m_watch, &ServerWatch::statusChanged);
    connect(m_status, &ServiceStatus::changed, this, [this](int16_t code) {
        if (code == ServiceStatus::Stop)
            closeFor("comando di stop");
    });
    connect(m_shutdown, &ShutdownRequest::requested, this, [this] { closeFor("richiesta Shutdown.txt"); });

    connect(m_status, &ServiceStatus::labelChanged, lblStatus, &QLabel::setText);
    connect(m_errors, &NavigationErrors::labelChanged, lblStatus, &QLabel::setText);
    connect(m_status, &ServiceStatus::choicesChanged, this, [this](bool play, bool pause) {
        lblPlay->setEnabled(play);
        lblPause->setEnabled(pause);
    });
    connect(m_gesture, &OperatorGesture::panelShown, pitAdmin, &QWidget::setVisible);
    connect(m_refreshBar, &RefreshBar::fillChanged, this, &frmTesmora::showFill);

    using Handler = void (frmTesmora::*)();
    const std::pair<FormTimer *, Handler> ticks[] = {
        {tmrRefreshPage, &frmTesmora::tmrRefreshPage_Timer}, {tmrRestartApp, &frmTesmora::tmrRestartApp_Timer},
        {tmrShutdown, &frmTesmora::tmrShutdown_Timer},       {tmrUpdate, &frmTesmora::tmrUpdate_Timer},
        {tmrOpenAdmin, &frmTesmora::tmrOpenAdmin_Timer},     {tmrUnloadAdmin, &frmTesmora::tmrUnloadAdmin_Timer},
        {tmrLoadTimeout, &frmTesmora::tmrLoadTimeout_Timer}, {tmrTestWebServer, &frmTesmora::tmrTestWebServer_Timer},
        {tmrIdleReset, &frmTesmora::tmrIdleReset_Timer},     {tmrMetrics, &frmTesmora::tmrMetrics_Timer},
        {tmrScreenPower, &frmTesmora::tmrScreenPower_Timer}, {tmrPageCheck, &frmTesmora::tmrPageCheck_Timer},
        {tmrScreenshot, &frmTesmora::tmrScreenshot_Timer},   {tmrLockFile, &frmTesmora::tmrLockFile_Timer}};
    for (const auto &[timer, handler] : ticks)
        connect(timer, &QTimer::timeout, this, handler);
    const std::pair<QPushButton *, Handler> buttons[] = {{cmdTesmora, &frmTesmora::cmdTesmora_Click},
                                                         {cmdAdminPannel, &frmTesmora::cmdAdminPannel_Click},
                                                         {cmdLogOut, &frmTesmora::cmdLogOut_Click},
                                                         {cmdClose, &frmTesmora::cmdClose_Click}};
    for (const auto &[button, handler] : buttons)
        connect(button, &QPushButton::clicked, this, handler);
    const std::pair<ClickArea *, Handler> areas[] = {
        {lblButton1, &frmTesmora::lblButton1_Click}, {lblButton2, &frmTesmora::lblButton2_Click},
        {lblPlay, &frmTesmora::lblPlay_Click},       {lblPause, &frmTesmora::lblPause_Click},
        {lblStop, &frmTesmora::lblStop_Click},       {ptcStop, &frmTesmora::ptcStop_Click},
        {ptcRefresh, &frmTesmora::ptcRefresh_Click}};
    for (const auto &[area, handler] : areas)
        connect(area, &ClickArea::clicked, this, handler);
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
    if (m_instanceLock.tryLock(m_env.paths.instanceLockFile()) == platform::InstanceLock::Result::HeldElsewhere) {
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
    const KioskSettings &settings = read.value;
    m_log.setEventsLogged(settings.logEvents);
    m_log.event("Avvio Tesmora " TESMORA_VERSION_TEXT);
    if (lockWritten.failed())
        WriteLog("Impossibile scrivere tesmora.lck " + errorText(lockWritten));
    // Only now: while the missing-settings message waits, nothing may tick or end the kiosk.
    for (FormTimer *t : {tmrUpdate, tmrShutdown, tmrUnloadAdmin, tmrTestWebServer, tmrLoadTimeout, tmrLockFile})
        t->setEnabled(true);
    // The system asks the kiosk to end: it ends as its stop control ends it.
    m_endRequests = new EndRequests(this);
    connect(m_endRequests, &EndRequests::requested, this, [this] { closeFor("richiesta del sistema (segnale)"); });

    m_servers.configure(settings);
    m_errors->configure(settings);
    m_shutdown->configure(settings);
    m_refreshBar->configure(settings);
    m_browser->configure(settings, m_servers, m_log);
    m_watch->configure(settings);
    m_idleReset->configure(settings);
    m_metrics->configure(settings);
    m_updaterStart->configure(settings);
    m_screen->configure(settings, CommandDisplayPower::ofSession(settings.screenCec, m_env.toolEnvironment, this));
    if (settings.onScreenKeyboard)
        kbdOnScreen =
            named(OnScreenKeyboard::inView(settings.keyboardLayout, WebBrowser, page(), m_log), "kbdOnScreen");
    m_watchdog->configure(settings);
    m_screenShots->configure(settings);
    Navigate(m_servers.startPage());
    ChangeStatus(ServiceStatus::Play);
}

void frmTesmora::ResizeToScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const KioskLayout l = layoutForScreen(screenRect.width() * TwipsPerPixel, screenRect.height() * TwipsPerPixel);

    setGeometry(QRect(screenRect.topLeft(), toPixels(l.window).size()));
    const std::pair<QWidget *, TwipsRect> places[] = {
        {cmdTesmora, l.cmdTesmora}, {cmdAdminPannel, l.cmdAdminPannel}, {cmdLogOut, l.cmdLogOut},
        {cmdClose, l.cmdClose},     {WebBrowser, l.WebBrowser},         {m_dialog, l.WebBrowser},
        {pitAdmin, l.pitAdmin},     {lblButton1, l.lblButton1},         {lblButton2, l.lblButton2},
        {shpBase, l.shpBase},       {shpRiempimento, l.shpRiempimento}, {lblStatus, l.lblStatus},
        {ptcStop, l.ptcStop},       {ptcRefresh, l.ptcRefresh}};
    for (const auto &[control, place] : places)
        control->setGeometry(toPixels(place));
    pitAdmin->hide();
    m_refreshBar->setWidths(l.shpBase.width, l.shpRiempimento.width);
}

void frmTesmora::showFill(float twips)
{
    QRect r = shpRiempimento->geometry();
    r.setWidth(twipsToPixels(twips));
    shpRiempimento->setGeometry(r);
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

void frmTesmora::ParkMousePointer()
{
    // The pointer rests in the bottom-right corner, out of the public's way. A Wayland client may
    // not move it (Qt would only say so on every call).
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
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
    m_log.event("Chiusura Tesmora: " + m_endReason);
    // A dashboard must tell a kiosk stopped on purpose from one that died (a file no longer
    // updated): the last figures say stop.
    m_metrics->writeStopped();
    // Errors ignored: the kiosk ends anyway.
    (void)removeFileIfPresent(m_env.lockFile());
    (void)removeFileIfPresent(m_env.shutdownRequestFile());
    endAtOnce();
}

void frmTesmora::endAtOnce()
{
    m_ended = true;
    for (FormTimer *t : findChildren<FormTimer *>(Qt::FindDirectChildrenOnly))
        t->setEnabled(false);
    if (m_endRequests)
        m_endRequests->stop();
    m_instanceLock.release();
    m_env.endProcess(0);
}
