#include "updatetransaction.h"

#include "fileops.h"
#include "installfile.h"
#include "platform.h"
#include "text.h"
#include "updatemanifest.h"
#include "updaterules.h"

#include <cerrno>
#include <set>

namespace fs = std::filesystem;

std::string journalText(const Journal &journal)
{
    std::string text = journal.state == Journal::State::Installed ? "installed\n" : "installing\n";
    for (const JournalEntry &entry : journal.entries)
        text += entry.name + "\t" + entry.backup + "\n";
    return text;
}

std::optional<Journal> parseJournal(std::string_view text)
{
    Journal journal;
    const size_t firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos)
        return std::nullopt;
    const std::string_view state = text.substr(0, firstEnd);
    if (state == "installed")
        journal.state = Journal::State::Installed;
    else if (state != "installing")
        return std::nullopt;
    for (size_t start = firstEnd + 1; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            return std::nullopt; // cut short: never act on half a list
        const std::string_view line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos || tab == 0)
            return std::nullopt;
        journal.entries.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
        start = end + 1;
    }
    return journal;
}

size_t firstRefusedJournalLine(std::string_view text, const JournalRules &rules)
{
    const std::optional<Journal> journal = parseJournal(text);
    if (!journal) {
        // The line that makes it no journal: where the text stops being one.
        size_t line = 1;
        for (size_t start = 0;; ++line) {
            const size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                return line;
            const std::string_view content = text.substr(start, end - start);
            if (line == 1 ? content != "installing" && content != "installed"
                          : content.find('\t') == std::string_view::npos || content.front() == '\t')
                return line;
            start = end + 1;
        }
    }
    const auto folded = [](const std::vector<std::string> &names) {
        std::set<std::string> set;
        for (const std::string &name : names)
            set.insert(toLowerAscii(name));
        return set;
    };
    const std::set<std::string> reserved = folded(rules.reserved);
    const std::set<std::string> neverNew = folded(rules.neverNew);
    std::set<std::string> seen;
    for (size_t i = 0; i < journal->entries.size(); ++i) {
        const JournalEntry &entry = journal->entries[i];
        const std::string name = toLowerAscii(entry.name);
        const bool nameOk = isSafeManifestEntry(entry.name) && !reserved.contains(name) && seen.insert(name).second;
        // A backup is a copy this program made: a plain name in the backup folder, never the
        // journals themselves.
        const bool backupOk = entry.backup.empty()
            ? !neverNew.contains(name)
            : isSafeManifestEntry(entry.backup) && entry.backup.ends_with(".bak");
        if (!nameOk || !backupOk)
            return i + 2;
    }
    return 0;
}

UpdateTransaction::UpdateTransaction(fs::path programFolder, fs::path backupFolder)
    : m_programFolder(std::move(programFolder))
    , m_backupFolder(std::move(backupFolder))
{
}

ErrorInfo UpdateTransaction::writeJournal()
{
    return replaceFileAtomically(journalPath(), journalText(m_journal));
}

ErrorInfo UpdateTransaction::begin(const std::vector<std::string> &names, const LocalDateTime &stamp)
{
    m_journal = {};
    m_installed = 0;
    for (const std::string &name : names) {
        JournalEntry entry{name, {}};
        const fs::path installed = m_programFolder / name;
        if (ordinaryFileExists(installed)) {
            Result<std::string> copy = makeBackupCopy(installed, m_backupFolder, stamp);
            if (copy.failed())
                return copy.error;
            entry.backup = std::move(copy.value);
        }
        m_journal.entries.push_back(std::move(entry));
    }
    // The journal's own write makes the backup folder's names, the copies among them, durable.
    return writeJournal();
}

ErrorInfo UpdateTransaction::install(size_t i, const fs::path &staged, bool executable)
{
    const ErrorInfo result = installFile(staged, m_programFolder / m_journal.entries.at(i).name, executable);
    if (result.ok())
        m_installed = std::max(m_installed, i + 1);
    return result;
}

ErrorInfo UpdateTransaction::markInstalled()
{
    if (const ErrorInfo e = platform::syncPath(m_programFolder); e.failed())
        return e;
    m_journal.state = Journal::State::Installed;
    return writeJournal();
}

ErrorInfo UpdateTransaction::commit()
{
    if (m_journalName == std::string_view(LastUpdateName))
        return {};
    std::error_code ec;
    std::filesystem::rename(journalPath(), m_backupFolder / LastUpdateName, ec);
    if (ec)
        return errorFromSystem(ec, journalPath());
    return platform::syncPath(m_backupFolder);
}

ErrorInfo UpdateTransaction::dropJournal()
{
    if (const ErrorInfo removed = removeFileIfPresent(journalPath()); removed.failed())
        return removed;
    return platform::syncPath(m_backupFolder);
}

ErrorInfo UpdateTransaction::rollback(const std::function<void(const std::string &name)> &restored)
{
    ErrorInfo first;
    for (size_t i = m_installed; i-- > 0;) {
        const JournalEntry &entry = m_journal.entries[i];
        const fs::path target = m_programFolder / entry.name;
        ErrorInfo result;
        bool changed = true;
        if (!entry.backup.empty()) {
            std::error_code ec;
            changed = !fs::equivalent(m_backupFolder / entry.backup, target, ec);
            result = changed ? copyFile(m_backupFolder / entry.backup, target, CopyPlacement::Replace) : ErrorInfo{};
        } else {
            changed = ordinaryFileExists(target);
            result = removeFileIfPresent(target);
        }
        if (result.failed() && first.ok())
            first = result;
        if (result.ok() && changed && restored)
            restored(entry.name);
    }
    if (first.failed())
        return first;
    if (const ErrorInfo e = platform::syncPath(m_programFolder); e.failed())
        return e;
    m_installed = 0;
    return dropJournal();
}

Result<std::optional<UpdateTransaction>> UpdateTransaction::find(const fs::path &programFolder,
                                                                 const fs::path &backupFolder, const char *journalName,
                                                                 const JournalRules &rules)
{
    UpdateTransaction transaction(programFolder, backupFolder);
    transaction.m_journalName = journalName;
    if (!ordinaryFileExists(transaction.journalPath()))
        return {};
    const Result<std::string> read = readWholeFile(transaction.journalPath());
    // Unreadable now, so not to be acted on; the next run looks again.
    if (read.failed())
        return {};
    const std::string &text = read.value;
    if (const size_t refusedLine = firstRefusedJournalLine(text, rules); refusedLine != 0)
        return Result<std::optional<UpdateTransaction>>::failure(
            {ErrorNumber::UserError, std::string(journalName) + " (riga " + std::to_string(refusedLine) + ")"});
    transaction.m_journal = *parseJournal(text);
    transaction.m_installed = transaction.m_journal.entries.size();
    return {std::move(transaction), {}};
}

Result<std::string> UpdateTransaction::setAside(const fs::path &backupFolder, const char *journalName,
                                                const LocalDateTime &stamp)
{
    std::error_code ec;
    for (int variant = 0;; ++variant) {
        const std::string name = std::string(journalName) + "." + compactStamp(stamp)
            + (variant > 0 ? "-" + std::to_string(variant) : "") + ".refused";
        if (fs::exists(backupFolder / name, ec) && !ec)
            continue;
        if (ec)
            return Result<std::string>::failure(errorFromSystem(ec, backupFolder / name));
        fs::rename(backupFolder / journalName, backupFolder / name, ec);
        if (ErrorInfo e = ec ? errorFromSystem(ec, backupFolder / journalName) : platform::syncPath(backupFolder);
            e.failed())
            return Result<std::string>::failure(std::move(e));
        return {name, {}};
    }
}
