#include "updaterecovery.h"

#include "modmain.h"

namespace fs = std::filesystem;

std::vector<std::string> reservedNames(const ProgramPaths &updater)
{
    return {modMain::ShutdownRequestFile,
            modMain::KioskLockFile,
            ProgramPaths{updater.folder, modMain::KioskExeName}.instanceLockFile().filename().string(),
            updater.instanceLockFile().filename().string(),
            updater.trustStateFile().filename().string(),
            modMain::UpdateFolder,
            modMain::BackupFolder};
}

UpdateRecovery::UpdateRecovery(const ProgramPaths &updater, const Clock &clock, const MonthlyLog &log)
    : m_paths(updater)
    , m_clock(clock)
    , m_log(log)
{
}

std::optional<UpdateTransaction> UpdateRecovery::find(const char *journalName) const
{
    const fs::path backupFolder = m_paths.file(modMain::BackupFolder);
    const JournalRules rules{reservedNames(m_paths), {modMain::KioskExeName, m_paths.exeName}};
    Result<std::optional<UpdateTransaction>> found =
        UpdateTransaction::find(m_paths.folder, backupFolder, journalName, rules);
    if (found.failed()) {
        // Anyone of the kiosk's group can write there: a journal that names anything but the
        // folder's own files and their copies is not ours, and acting on it could reach anywhere.
        const Result<std::string> aside = UpdateTransaction::setAside(backupFolder, journalName, m_clock.localNow());
        m_log.write("Giornale di aggiornamento non valido: backup/" + found.error.description
                    + ", nessun file ripristinato"
                    + (aside.ok() ? "; spostato in backup/" + aside.value : "; Error " + errorText(aside.error)));
    }
    return std::move(found.value);
}

bool UpdateRecovery::recoverInterrupted(bool kioskRunning)
{
    std::optional<UpdateTransaction> left = find(UpdateTransaction::JournalName);
    if (!left)
        return true;
    // Every file was in place and the kiosk that started this run came up on them.
    if (left->state() == Journal::State::Installed && kioskRunning) {
        m_log.write("Aggiornamento precedente interrotto durante la verifica: Tesmora è in funzione, "
                    "l'aggiornamento resta");
        commit(*left); // kept either way: a new journal may replace this one
        return true;
    }
    m_log.write("Aggiornamento precedente interrotto: ripristino della versione precedente");
    return rollBack(*left);
}

bool UpdateRecovery::undoLastUpdate(const std::string &reason)
{
    std::optional<UpdateTransaction> last = find(UpdateTransaction::LastUpdateName);
    if (!last)
        return true;
    m_log.write(reason);
    return rollBack(*last);
}

bool UpdateRecovery::rollBack(UpdateTransaction &transaction) const
{
    const ErrorInfo e =
        transaction.rollback([this](const std::string &name) { m_log.write("Ripristino file " + name); });
    // The journal stays, so the next run tries again.
    if (e.failed())
        m_log.write("Ripristino non completato: Error " + errorText(e));
    return e.ok();
}

void UpdateRecovery::commit(UpdateTransaction &transaction) const
{
    // A journal left behind would have the next run that finds the kiosk down undo this update.
    if (const ErrorInfo e = transaction.commit(); e.failed())
        m_log.write("Error " + errorText(e));
}
