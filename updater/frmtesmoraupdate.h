#pragma once

#include "activityblinker.h"
#include "countsetting.h"
#include "runobserver.h"
#include "runoutcome.h"
#include "updaterenvironment.h"
#include "updaterun.h"
#include "updatesettings.h"

#include <QWidget>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

// How far the progress bar's filled part grows per downloaded entry: the bar's full width
// (twips) integer-divided by the number of entries. entryCount must be above 0.
int progressStep(int barWidthTwips, std::size_t entryCount);

// The updater's small progress window. It shows what its update run tells it, and its first
// activation performs that run once. Closing the window asks a run at work to stop; when the run
// is over, or the window closed before it, finished() tells the exit status, once. Its controls
// carry their design names as object names.
class frmTesmoraUpdate : public QWidget, private RunObserver
{
    Q_OBJECT

public:
    frmTesmoraUpdate(UpdaterEnvironment environment, UpdateSettings settings, CountSettingReader &counts,
                     QWidget *parent = nullptr);
    ~frmTesmoraUpdate() override;

    // The update run (the click handler of cmdUpDate); the window's activation calls it.
    void cmdUpDate_Click();

    std::optional<RunOutcome> outcome() const { return m_outcome; }
    // The filled part of the progress bar, in twips.
    int progressWidthTwips() const { return m_shpFileAWidth; }

signals:
    // The process is to end with this status.
    void finished(int exitCode);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void endWith(const RunOutcome &outcome);

    void paintNow() override;
    void showText(const std::string &text) override;
    void showProgress(std::size_t done, std::size_t total) override;
    void blockArrived() override;
    void downloadEnded() override;

    QPushButton *cmdUpDate = nullptr;
    QLabel *lblFile = nullptr;
    QWidget *ShpFileA = nullptr;
    QFrame *ShpFileB = nullptr;
    QWidget *ShpActivity = nullptr;

    std::string m_exeName;
    std::unique_ptr<ActivityBlinker> m_blinker;
    UpdateRun m_run;
    std::optional<RunOutcome> m_outcome;
    int m_shpFileAWidth = 0; // twips
    bool m_activated = false;
    bool m_running = false;
    bool m_ended = false;
};
