#pragma once

// One update's changes to the program folder, made so that they land whole or not at all.
// Before the first file is replaced, a journal in the backup folder lists every file the update
// changes and the copy that keeps its old content. When the update is undone the journal goes;
// when it is kept the journal becomes "update.last", the record that lets the last update be
// undone later (until the next update replaces it). One left behind by a run that was cut short
// lets the next run undo it.
//
// The backup folder is writable by every member of the kiosk's group, so a journal read back is
// input like any other: it is acted on only when every name is a plain file name of the program
// folder and every backup a plain ".bak" name of the backup folder (see JournalRules).
//
// Journal ("update.journal"), text with LF line ends: first line "installing" or "installed"
// (every file in place), then one line per file: its name, a tab, the name of its backup copy
// (empty when the update brings the file new).

#include "clock.h"
#include "errorinfo.h"
#include "result.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JournalEntry
{
    std::string name; // in the program folder
    std::string backup; // in the backup folder; empty: the file did not exist

    friend bool operator==(const JournalEntry &, const JournalEntry &) = default;
};

struct Journal
{
    enum class State { Installing, Installed };
    State state = State::Installing;
    std::vector<JournalEntry> entries;
};

std::string journalText(const Journal &journal);
// Nothing for a text that is not a journal.
std::optional<Journal> parseJournal(std::string_view text);

// What a journal read back may name.
struct JournalRules
{
    // Files no update may change (the programs' own lock, request and state files, the work
    // folders), compared without regard to letter case.
    std::vector<std::string> reserved;
    // Programs an installed folder always holds, so that no update brings them new: an entry
    // that would delete one on undoing is forged.
    std::vector<std::string> neverNew;
};

// The first line (1-based, the state line being 1) of a journal text that is not a journal or
// breaks the rules, or 0 when the whole text may be acted on.
size_t firstRefusedJournalLine(std::string_view text, const JournalRules &rules);

class UpdateTransaction
{
public:
    static constexpr const char *JournalName = "update.journal";
    static constexpr const char *LastUpdateName = "update.last";

    UpdateTransaction(std::filesystem::path programFolder, std::filesystem::path backupFolder);

    // Keeps a copy of each of the named files that exists (stamped `stamp`), then writes the
    // journal; all of it reaches the disk before this returns. On failure nothing is changed
    // but for copies already made, which stay as any backup does.
    ErrorInfo begin(const std::vector<std::string> &names, const LocalDateTime &stamp);
    const std::vector<JournalEntry> &entries() const { return m_journal.entries; }

    // Puts staged in place of file i (see installFile).
    ErrorInfo install(size_t i, const std::filesystem::path &staged, bool executable);
    // Every file is in place: the names reach the disk and the journal says so.
    ErrorInfo markInstalled();
    // The update stays; its journal becomes the record of the last update.
    ErrorInfo commit();
    // Puts the folder back as it was: each file installed is replaced by its copy, or removed
    // where it was new; `restored` hears of each, newest first. The journal goes only when every
    // file is back; the first failure is returned after trying them all.
    ErrorInfo rollback(const std::function<void(const std::string &name)> &restored);

    // A journal found in the backup folder: the one a run that was cut short left behind
    // (JournalName), or the record of the last update kept (LastUpdateName), taken over so that it
    // can be kept or undone (every file it lists counts as installed). None when there is no such
    // journal, or it cannot be read now. A journal that breaks the rules is a failure whose
    // description names it and its first line that does: "<journal> (riga <n>)".
    static Result<std::optional<UpdateTransaction>> find(const std::filesystem::path &programFolder,
                                                         const std::filesystem::path &backupFolder,
                                                         const char *journalName, const JournalRules &rules);
    // Moves a refused journal out of the way, under a name of its own in the backup folder that
    // no run reads ("<journal>.<stamp>.refused"); that name.
    static Result<std::string> setAside(const std::filesystem::path &backupFolder, const char *journalName,
                                        const LocalDateTime &stamp);
    Journal::State state() const { return m_journal.state; }

private:
    ErrorInfo writeJournal();
    ErrorInfo dropJournal();
    std::filesystem::path journalPath() const { return m_backupFolder / m_journalName; }

    std::filesystem::path m_programFolder;
    std::filesystem::path m_backupFolder;
    Journal m_journal;
    const char *m_journalName = JournalName;
    size_t m_installed = 0; // files of the journal in place, in order
};
