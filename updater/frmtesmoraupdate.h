#pragma once

#include "clock.h"
#include "countsetting.h"
#include "errorinfo.h"
#include "kioskservice.h"
#include "monthlylog.h"
#include "programpaths.h"
#include "twips.h"
#include "updaterenvironment.h"
#include "updatetrust.h"

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QPushButton;
class UpdateTransaction;

// How far the progress bar's filled part grows per downloaded entry: the bar's full width
// (twips) integer-divided by the number of entries. entryCount must be above 0.
int progressStep(int barWidthTwips, std::size_t entryCount);

// The updater's small progress window. Its first activation performs the update run once; every
// outcome of the run, and closing the window, ends the process. Its controls carry their design
// names as object names.
class frmTesmoraUpdate : public QWidget
{
    Q_OBJECT

public:
    explicit frmTesmoraUpdate(UpdaterEnvironment environment, QWidget *parent = nullptr);
    ~frmTesmoraUpdate() override;

    // The update run (the click handler of cmdUpDate); the window's activation calls it.
    void cmdUpDate_Click();

    // How the run ended, as the process's exit status says it: 0 for an update done or nothing
    // to do, 1 for anything else.
    enum class RunEnd { Finished, NothingToDo, Refused, Failed, GaveUp, RolledBack };
    struct RunOutcome
    {
        RunEnd end = RunEnd::Finished;
        ErrorInfo error;
        // No signed set newer than max_age_days has been accepted, whatever this run did.
        bool stale = false;
        int exitCode() const { return !stale && (end == RunEnd::Finished || end == RunEnd::NothingToDo) ? 0 : 1; }
    };
    std::optional<RunOutcome> outcome() const { return m_outcome; }

    // The filled part of the progress bar, in twips.
    int progressWidthTwips() const { return m_shpFileAWidth; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Activate();
    void Form_Unload();

    RunOutcome updateRun();
    // False when an interrupted update could not be undone: its journal stays for the next run.
    bool recoverInterruptedUpdate();
    RunOutcome installAll(const std::vector<std::string> &entries);
    void keepUpdate(UpdateTransaction *transaction);
    bool rollBack(UpdateTransaction &transaction);
    RunOutcome startAndWatchKiosk(UpdateTransaction *transaction);
    void widenProgress(std::size_t entryCount);
    void showActivity(const std::string &text);
    void removeStagedFiles();
    void endWith(int exitCode);
    void writeMetrics(int exitCode);
    void WriteLog(const std::string &message) { m_log.write(message); }

    QPushButton *cmdUpDate = nullptr;
    QLabel *lblFile = nullptr;
    QWidget *ShpFileA = nullptr;
    QFrame *ShpFileB = nullptr;
    QWidget *ShpActivity = nullptr;

    UpdaterEnvironment m_env;
    MonthlyLog m_log;
    KioskService m_kiosk;
    CountSettingReader m_counts;
    std::filesystem::path m_updateFolder;
    std::filesystem::path m_backupFolder;
    // The names this run put into the update folder: emptying it removes these and nothing else.
    std::vector<std::string> m_staged;
    std::optional<RunOutcome> m_outcome;
    // The signed set this run installs, when updates are verified.
    std::optional<TrustedSet> m_trustedSet;
    TrustSettings m_trust;
    // What the metrics file reports of the run.
    TimePoint m_runStarted;
    std::uintmax_t m_bytesDownloaded = 0;
    size_t m_filesInstalled = 0;
    int m_shpFileAWidth = 0; // twips
    bool m_activated = false;
    bool m_running = false;
    bool m_kioskStopped = false;
    bool m_unloaded = false;
};
