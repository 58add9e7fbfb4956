#include "modmain.h"

#include "frmtesmoraupdate.h"
#include "monthlylog.h"
#include "platform.h"

#include <QApplication>

namespace modMain {

clsFileIni IniFile;
std::string UpdateUrl;

void readSettings(const ProgramPaths &paths)
{
    IniFile.setNomeFile(paths.settingsFile().string());
    UpdateUrl = IniFile.ReadKey("data", "update_url", "");
}

int Main()
{
    static const SystemClock clock;
    // Start-up goes on past a failed step; the last failure is logged once the window is up.
    ErrorInfo lastFailure;

    const UpdaterEnvironment environment = UpdaterEnvironment::ofRunningProgram(clock);
    const ProgramPaths &paths = environment.paths;
    if (paths.folder.empty())
        lastFailure = errorFor(ErrorNumber::PathNotFound);
    const MonthlyLog log(LogStyle::Updater, paths.folder, paths.exeName, clock);

    // Two runs at once would download into the same "update" folder and install each other's
    // halves. The lock is the system's, so a killed updater never leaves it taken.
    static platform::InstanceLock runLock;
    if (runLock.tryLock(paths.instanceLockFile()) == platform::InstanceLock::Result::HeldElsewhere) {
        log.write("Aggiornamento già in corso: questa istanza di " + paths.exeName + " termina");
        platform::endProcessNow(1);
    }

    readSettings(paths);

    frmTesmoraUpdate form(environment);
    form.show();

    if (lastFailure.failed())
        log.write("Error " + errorText(lastFailure));
    return QApplication::exec();
}

} // namespace modMain
