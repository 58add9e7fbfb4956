#pragma once

#include "errorinfo.h"
#include "twips.h"

#include <QWidget>

#include <cstddef>
#include <filesystem>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

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
    explicit frmTesmoraUpdate(QWidget *parent = nullptr);

    // The filled part of the progress bar, in twips.
    int progressWidthTwips() const { return m_shpFileAWidth; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    enum class RunEnd { Finished, EndAtOnce, CloseWindow, Failed };
    struct RunOutcome
    {
        RunEnd end;
        ErrorInfo error;
    };

    void Form_Load();
    void Form_Activate();
    [[noreturn]] void Form_Unload();
    void cmdUpDate_Click();

    RunOutcome updateRun();
    ErrorInfo installEntry(const std::string &entry);
    ErrorInfo StopTesmora();
    bool startKiosk();
    void startKioskIfNotRunning();
    void widenProgress(std::size_t entryCount);
    [[noreturn]] void closeWindow();

    QPushButton *cmdUpDate = nullptr;
    QLabel *lblFile = nullptr;
    QWidget *ShpFileA = nullptr;
    QFrame *ShpFileB = nullptr;
    QWidget *ShpActivity = nullptr;

    int m_shpFileAWidth = 0; // twips
    bool m_activated = false;
    bool m_running = false;
    bool m_kioskStopped = false;
};
