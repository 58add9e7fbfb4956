#pragma once

#include "clickarea.h"
#include "clsfileini.h"
#include "formtimer.h"
#include "hostallowlist.h"
#include "kioskbrowser.h"
#include "kioskenvironment.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "metricsfile.h"
#include "monthlylog.h"
#include "navigationerrors.h"
#include "operatorgesture.h"
#include "platform.h"
#include "programpaths.h"
#include "refreshbar.h"
#include "serverlist.h"
#include "serverwatch.h"
#include "servicestatus.h"
#include "shutdownrequest.h"
#include "updaterstart.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QSocketNotifier;
class QWebEngineView;
class KioskPage;
class PageDialog;

// The kiosk's one window: the browser above a strip of buttons, the status label and refresh
// bar, two hidden click areas and the operator panel. Controls are public, as the window's
// handlers and its tests address them directly.
class frmTesmora : public QWidget
{
    Q_OBJECT
public:
    explicit frmTesmora(KioskEnvironment environment, QWidget *parent = nullptr);
    ~frmTesmora() override;

    // Start-up, then the window is shown over the whole screen.
    void start();

    // Event handlers.
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void tmrRefreshPage_Timer();
    void tmrRestartApp_Timer();
    void tmrShutdown_Timer();
    void tmrUpdate_Timer();
    void tmrOpenAdmin_Timer();
    void tmrUnloadAdmin_Timer();
    void tmrLoadTimeout_Timer();
    void tmrTestWebServer_Timer();
    void tmrIdleReset_Timer();
    void tmrMetrics_Timer();
    void WebBrowser_NavigateError(const QUrl &url, int statusCode, const QString &description);
    void WebBrowser_NavigationRefused(const QUrl &url);
    void WebBrowser_DocumentComplete(const QUrl &url);
    void cmdTesmora_Click();
    void cmdAdminPannel_Click();
    void cmdLogOut_Click();
    void cmdClose_Click();
    void lblButton1_Click();
    void lblButton2_Click();
    void lblPlay_Click();
    void lblPause_Click();
    void lblStop_Click();
    void ptcStop_Click();
    void ptcRefresh_Click();

    int16_t ChangeStatus(const int16_t &Stato);
    void Serviziotesmora(int16_t Avvia);
    void ResetRefreshBar();

    // The address the browser was last asked for (by Navigate or Navigate2).
    QString lastRequestedAddress() const { return m_browser->lastRequestedAddress(); }
    // True while the browser shows the kiosk's own text because the error page failed too.
    bool showsBuiltInErrorText() const { return m_browser->showsBuiltInErrorText(); }
    KioskPage *page() const { return m_browser->page(); }
    // Where a page's alert, confirm and prompt are asked.
    PageDialog *pageDialog() const { return m_dialog; }

    // Controls, in the order of the design.
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
    QWebEngineView *WebBrowser = nullptr;
    ClickArea *ptcRefresh = nullptr;
    ClickArea *ptcStop = nullptr;
    ClickArea *lblButton2 = nullptr;
    ClickArea *lblButton1 = nullptr;
    QLabel *lblStatus = nullptr;
    QWidget *shpRiempimento = nullptr;
    QWidget *shpBase = nullptr;

    // Window-level state that start-up fills.
    clsFileIni IniFile;
    KioskSettings settings;
    // Seconds since a visitor last touched, clicked or typed; -1 when nobody has since the
    // last session reset.
    int IdleSeconds = -1;

signals:
    // Every address the window asks the browser for, as it asks.
    void navigationRequested(const QString &address);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Sees every touch, click and key of the application, for the idle reset.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void applyFleetSettings();
    void statusChanged(int16_t code);
    void showFill(float twips);
    void writeMetrics();
    void startTimers();
    void watchEndRequests();
    void ResizeToScreen();
    void ParkMousePointer();
    void WriteLog(const std::string &message);
    void Navigate(const std::string &address);
    void Navigate2(const std::string &address);
    void endAtOnce();

    KioskEnvironment m_env;
    KioskLog m_log;
    CountSettingReader m_counts;
    platform::InstanceLock m_instanceLock;
    PageDialog *m_dialog = nullptr;
    std::unique_ptr<platform::EndRequestWatch> m_endRequests;
    QSocketNotifier *m_endRequestNotifier = nullptr;
    bool m_ended = false;
    bool m_unloading = false;
    bool m_keepFullScreen = false;

    static constexpr size_t RefusalsLoggedPerMinute = 20;
    static constexpr size_t RefusedSchemeShown = 40; // characters
    std::map<std::string, TimePoint> m_refusedLogged; // refusal line -> when it was last logged
    ServerList m_servers;
    KioskBrowser *m_browser = nullptr;
    NavigationErrors *m_errors = nullptr;
    ServerWatch *m_watch = nullptr;
    ServiceStatus *m_status = nullptr;
    RefreshBar *m_refreshBar = nullptr;
    OperatorGesture *m_gesture = nullptr;
    ShutdownRequest *m_shutdown = nullptr;
    std::unique_ptr<UpdaterStart> m_updaterStart;
    MetricsFile m_metricsFile;
};
