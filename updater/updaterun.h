#pragma once

// One update run, from its settings to keeping or undoing what it installed, as a sequence of
// named steps: prepare, settings, manifest, signature, downloads, old backups, then install
// (backups, StopTesmora, the files) and startAndWatchKiosk, which keeps the update or rolls it
// back. The run touches no widget: it tells a RunObserver what it does and returns one outcome.

#include "countsetting.h"
#include "fileops.h"
#include "hashworker.h"
#include "kioskservice.h"
#include "moddownload.h"
#include "monthlylog.h"
#include "runobserver.h"
#include "runoutcome.h"
#include "updaterenvironment.h"
#include "updatesettings.h"
#include "updatetrust.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class UpdateTransaction;

class UpdateRun
{
public:
    // `counts` reads the counting settings when the run uses them; it logs a value that falls back.
    UpdateRun(UpdaterEnvironment env, UpdateSettings settings, CountSettingReader &counts, RunObserver &observer);
    ~UpdateRun();
    UpdateRun(const UpdateRun &) = delete;
    UpdateRun &operator=(const UpdateRun &) = delete;

    // The run, once. A failure that ends it is logged ("Error " + the error), and with
    // max_age_days a kiosk held on an old release is told (the outcome's `stale`).
    RunOutcome perform();
    // Asks a run at work to stop: its download ends at the next block, and the run then ends
    // Closed, having removed what it staged, logging nothing more.
    void requestCancel() { m_stop.request_stop(); }
    // Removes what this run staged, and the pieces of downloads cut short: the end of a run whose
    // window closed, before or during it.
    RunOutcome abandon();

    // Into metrics_file, when set, then the log's closing line: the last thing a run does.
    void finish(const RunOutcome &outcome) const;

private:
    // The run's end, or nothing: on to the next step.
    using Next = std::optional<RunOutcome>;

    RunOutcome steps();
    Next prepare();
    Next checkSettings();
    Next fetchManifest();
    Next verifySet();
    Next downloadEntries();
    Next removeOldBackups();
    RunOutcome install();
    Next stopKiosk();
    RunOutcome startAndWatchKiosk(UpdateTransaction *transaction);
    void keepUpdate(UpdateTransaction *transaction);
    void rollBack(UpdateTransaction &transaction);

    bool fetch(const std::string &address, const std::string &name, std::uintmax_t maxBytes, bool resume = false);
    bool installedUnchanged(const std::string &entry, const FolderNames &installed) const;
    void removeStagedFiles();
    void log(const std::string &line) const { m_log.write(line); }

    UpdaterEnvironment m_env;
    UpdateSettings m_settings;
    CountSettingReader &m_counts;
    RunObserver &m_observer;
    MonthlyLog m_log;
    KioskService m_kiosk;
    std::filesystem::path m_updateFolder;
    std::filesystem::path m_backupFolder;
    std::stop_source m_stop;
    modDownload::Session m_session;
    modDownload::Options m_download;
    RunFigures m_figures;

    // What the steps found, for the steps after them.
    TrustSettings m_trust; // once read: a run that ends before says nothing of stale sets
    std::string m_manifest;
    std::vector<std::string> m_entries; // of a verified set: only those that differ from the installed files
    // The signed set this run installs, when updates are verified, and the hash of its downloads
    // (a thread of its own, only when there is something to check).
    std::optional<TrustedSet> m_trustedSet;
    std::optional<HashWorker> m_hash;
    // The names this run put into the update folder: emptying it removes these and nothing else.
    std::vector<std::string> m_staged;
    bool m_kioskStopped = false;
};
