#pragma once

// What an update leaves in the backup folder to be undone: the journal of a run that was cut short,
// and the record of the last update kept, which the session undoes when the kiosk it brought keeps
// crashing. Both are read under the rules of JournalRules: a journal that breaks them is set aside
// and nothing is restored or deleted.

#include "clock.h"
#include "monthlylog.h"
#include "programpaths.h"
#include "updatetransaction.h"

#include <optional>
#include <string>
#include <vector>

// The names of the program folder that no update may change, in any letter case.
std::vector<std::string> reservedNames(const ProgramPaths &updater);

class UpdateRecovery
{
public:
    UpdateRecovery(const ProgramPaths &updater, const Clock &clock, const MonthlyLog &log);

    // The journal of a run that was cut short: kept when it says every file was in place and the
    // kiosk runs on them, undone otherwise. False when it could not be undone: it stays, and no
    // new update may be installed over it.
    bool recoverInterrupted(bool kioskRunning);
    // Undoes the last update kept, logging reason first. True when there was none, or it is undone.
    bool undoLastUpdate(const std::string &reason);

    // Puts the folder back as the transaction found it, a line per file; a failure is logged and
    // leaves the journal for the next run.
    bool rollBack(UpdateTransaction &transaction) const;
    // The update stays; a failure is logged.
    void commit(UpdateTransaction &transaction) const;

private:
    // The journal, taken over; a refused one is set aside and logged, and none is returned.
    std::optional<UpdateTransaction> find(const char *journalName) const;

    ProgramPaths m_paths;
    const Clock &m_clock;
    const MonthlyLog &m_log;
};
