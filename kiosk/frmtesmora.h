#pragma once

#include "clsfileini.h"
#include "countsetting.h"
#include "endrequests.h"
#include "fileops.h"
#include "idlereset.h"
#include "inputwatch.h"
#include "kioskbrowser.h"
#include "kioskenvironment.h"
#include "kiosklog.h"
#include "kioskmetrics.h"
#include "navigationerrors.h"
#include "navigationrefusals.h"
#include "operatorgesture.h"
#include "pagewatchdog.h"
#include "platform.h"
#include "refreshbar.h"
#include "screenschedule.h"
#include "screenshots.h"
#include "serverlist.h"
#include "serverwatch.h"
#include "servicestatus.h"
#include "shutdownrequest.h"
#include "updaterstart.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class ClickArea;
class FormTimer;
class KioskPage;
class OnScreenKeyboard;
class PageDialog;
class QLabel;
class QPushButton;
class QWebEngineView;

// The kiosk's one window: the browser above a strip of buttons, the status label and refresh
// bar, two hidden click areas and the operator panel. The window shows; the rules decide: it
// creates its controls and timers, wires them to the rules below, and its handlers, named as the
// design names them, forward to the rule each belongs to.
class frmTesmora : public QWidget
{
    Q_OBJECT
public:
    explicit frmTesmora(KioskEnvironment environment, QWidget *parent = nullptr);
    ~frmTesmora() override;

    // Start-up, then the window is shown over the whole screen.
    void start();

    // The design's handlers, each forwarding to the rule it belongs to.
    void Form_Load();
    void Form_Activate() { ParkMousePointer(); }
    void Form_Unload();
    void tmrRefreshPage_Timer() { m_refreshBar->tick(); }
    void tmrRestartApp_Timer()
    {
        // A dark screen's page is not reloaded: the countdown waits for the screen.
        if (m_screen->displayOn())
            m_errors->countdownTick();
    }
    void tmrShutdown_Timer() { m_shutdown->tick(); }
    void tmrUpdate_Timer() { m_updaterStart->tick(); }
    void tmrOpenAdmin_Timer() { m_gesture->openTimeUp(); }
    void tmrUnloadAdmin_Timer() { m_gesture->hideTimeUp(); }
    void tmrLoadTimeout_Timer() { m_browser->secondPassed(); }
    void tmrTestWebServer_Timer()
    {
        if (m_screen->displayOn())
            m_watch->tick();
    }
    void tmrIdleReset_Timer() { m_idleReset->tick(); }
    void tmrMetrics_Timer() { m_metrics->write(); }
    void tmrScreenPower_Timer() { m_screen->tick(); }
    void tmrPageCheck_Timer() { m_watchdog->tick(); }
    void tmrScreenshot_Timer() { m_screenShots->tick(); }
    // The updater's sign that the event loop runs: the lock file's time, its line unchanged. A
    // lock file somebody removed stays removed.
    void tmrLockFile_Timer() { (void)touchFile(m_env.lockFile()); }
    void WebBrowser_NavigateError(const QUrl &url, int statusCode, const QString &description)
    {
        m_errors->navigateError(url, statusCode, description);
    }
    void WebBrowser_NavigationRefused(const QUrl &url) { m_refusals.refused(url); }
    void WebBrowser_DocumentComplete(const QUrl &url) { m_errors->documentComplete(url); }
    void cmdTesmora_Click()
    {
        Navigate(m_servers.startPage());
        ParkMousePointer();
    }
    void cmdAdminPannel_Click() { Navigate(m_servers.adminPage()); }
    void cmdLogOut_Click() { Navigate(m_servers.logoutPage()); }
    // At once, without the unload handler: the lock file stays.
    void cmdClose_Click()
    {
        m_log.event("Chiusura Tesmora: Chiudi");
        m_metrics->writeStopped();
        endAtOnce();
    }
    void lblButton1_Click() { m_gesture->leftCornerClicked(); }
    void lblButton2_Click() { m_gesture->rightCornerClicked(); }
    void lblPlay_Click() { ChangeStatus(ServiceStatus::Play); }
    void lblPause_Click() { ChangeStatus(ServiceStatus::Pause); }
    void lblStop_Click() { ChangeStatus(ServiceStatus::Stop); }
    void ptcStop_Click() { m_refreshBar->stop(); }
    void ptcRefresh_Click() { m_refreshBar->restart(); }

    int16_t ChangeStatus(const int16_t &Stato)
    {
        m_status->change(Stato);
        return 0;
    }
    void Serviziotesmora(int16_t Avvia) { m_watch->Serviziotesmora(Avvia); }
    void ResetRefreshBar() { m_refreshBar->reset(); }

    // For tests of the whole window. Its controls and timers are found by their design names.
    // The address the browser was last asked for (by Navigate or Navigate2).
    QString lastRequestedAddress() const { return m_browser->lastRequestedAddress(); }
    // True while the browser shows the kiosk's own text because the error page failed too.
    bool showsBuiltInErrorText() const { return m_browser->showsBuiltInErrorText(); }
    KioskPage *page() const { return m_browser->page(); }
    // Where a page's alert, confirm and prompt are asked.
    PageDialog *pageDialog() const { return m_dialog; }

signals:
    // Every address the window asks the browser for, as it asks.
    void navigationRequested(const QString &address);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createRules();
    void wireRules();
    void ResizeToScreen();
    void ParkMousePointer();
    void WriteLog(const std::string &message) { m_log.write(message); }
    void Navigate(const std::string &address) { m_browser->Navigate(address); }
    void Navigate2(const std::string &address) { m_browser->Navigate2(address); }
    void showFill(float twips);
    void endAtOnce();
    // The orderly end, for the reason the log's closing line gives.
    void closeFor(const char *reason)
    {
        m_endReason = reason;
        close();
    }

    KioskEnvironment m_env;
    KioskLog m_log;
    clsFileIni IniFile;
    CountSettingReader m_counts;
    platform::InstanceLock m_instanceLock;
    EndRequests *m_endRequests = nullptr;
    bool m_ended = false;
    bool m_unloading = false;
    bool m_keepFullScreen = false;
    std::string m_endReason = "chiusura della finestra";

    // Controls and timers, in the order of the design.
    QPushButton *cmdLogOut = nullptr;
    QPushButton *cmdAdminPannel = nullptr;
    QPushButton *cmdClose = nullptr;
    QPushButton *cmdTesmora = nullptr;
    FormTimer *tmrUpdate = nullptr;
    FormTimer *tmrShutdown = nullptr;
    FormTimer *tmrRestartApp = nullptr;
    QLabel *pitAdmin = nullptr;
    FormTimer *tmrUnloadAdmin = nullptr;
    ClickArea *lblPlay = nullptr;
    ClickArea *lblPause = nullptr;
    ClickArea *lblStop = nullptr;
    FormTimer *tmrRefreshPage = nullptr;
    FormTimer *tmrTestWebServer = nullptr;
    FormTimer *tmrOpenAdmin = nullptr;
    FormTimer *tmrLoadTimeout = nullptr;
    FormTimer *tmrIdleReset = nullptr;
    FormTimer *tmrMetrics = nullptr;
    FormTimer *tmrScreenPower = nullptr;
    FormTimer *tmrPageCheck = nullptr;
    FormTimer *tmrScreenshot = nullptr;
    FormTimer *tmrLockFile = nullptr;
    QWebEngineView *WebBrowser = nullptr;
    PageDialog *m_dialog = nullptr;
    ClickArea *ptcRefresh = nullptr;
    ClickArea *ptcStop = nullptr;
    ClickArea *lblButton2 = nullptr;
    ClickArea *lblButton1 = nullptr;
    QLabel *lblStatus = nullptr;
    QWidget *shpRiempimento = nullptr;
    QWidget *shpBase = nullptr;
    OnScreenKeyboard *kbdOnScreen = nullptr; // with on_screen_keyboard

    // The rules, each with its state and its settings.
    ServerList m_servers; // the laid-out server list and the entry in use
    KioskBrowser *m_browser = nullptr; // the browser session; Navigate, Navigate2
    ServiceStatus *m_status = nullptr; // ChangeStatus: pause, play, stop, error; the label
    NavigationErrors *m_errors = nullptr; // error page, status error, countdown (tmrRestartApp)
    ServerWatch *m_watch = nullptr; // failover, failback, server watch (tmrTestWebServer)
    NavigationRefusals m_refusals; // the log lines of refused navigations
    IdleReset *m_idleReset = nullptr; // idle_reset (tmrIdleReset)
    KioskMetrics *m_metrics = nullptr; // metrics_file (tmrMetrics)
    std::unique_ptr<UpdaterStart> m_updaterStart; // the daily updater start (tmrUpdate)
    ShutdownRequest *m_shutdown = nullptr; // Shutdown.txt (tmrShutdown)
    OperatorGesture *m_gesture = nullptr; // the hidden corners and the panel (tmrOpenAdmin, tmrUnloadAdmin)
    RefreshBar *m_refreshBar = nullptr; // the refresh bar (tmrRefreshPage)
    ScreenSchedule *m_screen = nullptr; // screen_off, screen_on (tmrScreenPower)
    InputWatch *m_input = nullptr; // when a visitor last touched the screen
    PageWatchdog *m_watchdog = nullptr; // page_check_interval, renderer_memory_limit (tmrPageCheck)
    ScreenShots *m_screenShots = nullptr; // screenshot_file (tmrScreenshot)
};
