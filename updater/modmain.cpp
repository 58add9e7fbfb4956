#include "modmain.h"

#include "frmtesmoraupdate.h"
#include "monthlylog.h"
#include "platform.h"
#include "updaterecovery.h"

#include <QApplication>

namespace modMain {

clsFileIni IniFile;
std::string UpdateUrl;

UpdateSettings readSettings(const ProgramPaths &paths)
{
    IniFile.setNomeFile(paths.settingsFile().string());
    UpdateSettings settings = readUpdateSettings(IniFile);
    UpdateUrl = settings.updateUrl;
    return settings;
}

int Main(platform::DisplaySession session)
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

    // Started by hand over ssh, or by a service: the run needs no one to watch it.
    if (session == platform::DisplaySession::None)
        log.write("Nessuno schermo raggiungibile: aggiornamento senza finestra");

    CountSettingReader counts(IniFile, [&log](const std::string &line) { log.write(line); });
    frmTesmoraUpdate form(environment, readSettings(paths), counts);
    // The one place the process ends: the run is over, or the window closed before it began.
    QObject::connect(&form, &frmTesmoraUpdate::finished, [](int exitCode) { platform::endProcessNow(exitCode); });
    form.show();

    if (lastFailure.failed())
        log.write("Error " + errorText(lastFailure));
    return QApplication::exec();
}

int Recover(const std::string &argument)
{
    const bool interrupted = argument == "--recover";
    if (!interrupted && argument != "--roll-back")
        return -1;
    static const SystemClock clock;
    const ProgramPaths paths = ProgramPaths::ofRunningProgram();
    const MonthlyLog log(LogStyle::Updater, paths.folder, paths.exeName, clock);
    // A run at work owns the journals.
    static platform::InstanceLock runLock;
    if (runLock.tryLock(paths.instanceLockFile()) == platform::InstanceLock::Result::HeldElsewhere)
        return interrupted ? 0 : 1;
    UpdateRecovery recovery(paths, clock, log);
    const ProgramPaths kiosk{paths.folder, KioskExeName};
    if (!recovery.recoverInterrupted(platform::InstanceLock::heldElsewhere(kiosk.instanceLockFile())))
        return 1;
    if (interrupted)
        return 0;
    return recovery.undoLastUpdate("Ultimo aggiornamento annullato su richiesta: ripristino della versione precedente")
        ? 0
        : 1;
}

} // namespace modMain
