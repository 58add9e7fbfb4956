#include "modmain.h"

#include "frmtesmoraupdate.h"
#include "monthlylog.h"
#include "platform.h"

#include <QApplication>

namespace modMain {

clsFileIni IniFile;
std::string UpdateUrl;

namespace {

ProgramPaths g_program;
const Clock *g_clock = nullptr;

} // namespace

void bindProgram(const ProgramPaths &paths, const Clock &clock)
{
    g_program = paths;
    g_clock = &clock;
}

const ProgramPaths &program()
{
    return g_program;
}

const Clock &clock()
{
    static const SystemClock systemClock;
    return g_clock ? *g_clock : systemClock;
}

void WriteLog(const std::string &message)
{
    MonthlyLog(LogStyle::Updater, g_program.folder, g_program.exeName, clock()).write(message);
}

int Main()
{
    static const SystemClock systemClock;
    // Start-up goes on past a failed step; the last failure is logged once the window is up.
    ErrorInfo lastFailure;

    const ProgramPaths paths = ProgramPaths::ofRunningProgram();
    if (paths.folder.empty())
        lastFailure = errorFor(ErrorNumber::PathNotFound);
    bindProgram(paths, systemClock);

    // Two runs at once would download into the same "update" folder and install each other's
    // halves. The lock is the system's, so a killed updater never leaves it taken.
    static platform::InstanceLock runLock;
    if (runLock.tryLock(paths.instanceLockFile())
        == platform::InstanceLock::Result::HeldElsewhere) {
        WriteLog("Aggiornamento già in corso: questa istanza di " + paths.exeName + " termina");
        platform::endProcessNow(1);
    }

    IniFile.setNomeFile(paths.settingsFile().string());
    UpdateUrl = IniFile.ReadKey("data", "update_url", "");

    frmTesmoraUpdate form;
    form.show();

    if (lastFailure.failed())
        WriteLog("Error " + errorText(lastFailure));
    return QApplication::exec();
}

} // namespace modMain
