#pragma once

// One update's changes to the program folder, made so that they land whole or not at all.
// Before the first file is replaced, a journal in the backup folder lists every file the update
// changes and the copy that keeps its old content. The journal goes when the update is over,
// kept or undone; one left behind by a run that was cut short lets the next run undo it.
//
// Journal ("update.journal"), text with LF line ends: first line "installing" or "installed"
// (every file in place), then one line per file: its name, a tab, the name of its backup copy
// (empty when the update brings the file new).

#include "clock.h"
#include "errorinfo.h"

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

class UpdateTransaction
{
public:
    static constexpr const char *JournalName = "update.journal";

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
    // The update stays.
    ErrorInfo commit();
    // Puts the folder back as it was: each file installed is replaced by its copy, or removed
    // where it was new; `restored` hears of each, newest first. The journal goes only when every
    // file is back; the first failure is returned after trying them all.
    ErrorInfo rollback(const std::function<void(const std::string &name)> &restored);

    // The journal a run that was cut short left behind, taken over so that it can be kept or
    // undone: every file it lists counts as installed.
    static std::optional<UpdateTransaction> leftBehind(const std::filesystem::path &programFolder,
                                                       const std::filesystem::path &backupFolder);
    Journal::State state() const { return m_journal.state; }

private:
    ErrorInfo writeJournal();
    std::filesystem::path journalPath() const { return m_backupFolder / JournalName; }

    std::filesystem::path m_programFolder;
    std::filesystem::path m_backupFolder;
    Journal m_journal;
    size_t m_installed = 0; // files of the journal in place, in order
};
