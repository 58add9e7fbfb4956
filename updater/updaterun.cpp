#include "updaterun.h"

#include "fileops.h"
#include "modmain.h"
#include "platform.h"
#include "runmetrics.h"
#include "text.h"
#include "updatemanifest.h"
#include "updaterecovery.h"
#include "updaterules.h"
#include "updatetransaction.h"

namespace fs = std::filesystem;
using modMain::KioskExeName;

namespace {

const char *const ManifestName = "update.txt";

RunOutcome failed(const ErrorInfo &error)
{
    return {RunEnd::Failed, error};
}

RunOutcome ended(RunEnd end)
{
    return {end, {}};
}

} // namespace

UpdateRun::UpdateRun(UpdaterEnvironment env, UpdateSettings settings, CountSettingReader &counts, RunObserver &observer)
    : m_env(std::move(env))
    , m_settings(std::move(settings))
    , m_counts(counts)
    , m_observer(observer)
    , m_log(LogStyle::Updater, m_env.paths.folder, m_env.paths.exeName, *m_env.clock)
    , m_kiosk(m_env, m_log)
    , m_updateFolder(m_env.paths.file(modMain::UpdateFolder))
    , m_backupFolder(m_env.paths.file(modMain::BackupFolder))
{
    m_figures.started = m_env.clock->now();
    m_download.userAgent = m_env.paths.exeName;
    m_download.log = [this](const std::string &line) { log(line); };
    m_download.onBlock = [this] { m_observer.blockArrived(); };
    m_download.stop = m_stop.get_token();
    m_download.session = &m_session;
}

UpdateRun::~UpdateRun() = default;

RunOutcome UpdateRun::perform()
{
    m_figures = {m_env.clock->now(), 0, 0};
    RunOutcome outcome = steps();
    m_hash.reset();
    if (outcome.end == RunEnd::Closed)
        return outcome; // closed by hand: the run ends where it stood
    if (outcome.end == RunEnd::Failed && outcome.error.failed())
        log("Error " + errorText(outcome.error));
    // Whatever the server offered, or failed to: a fleet held on an old release is told.
    if (const std::string stale = staleSetLine(m_trust, m_env.paths.trustStateFile(), m_env.clock->now());
        !stale.empty()) {
        log(stale);
        outcome.stale = true;
    }
    // A refused set, or a kiosk that would not quit, leaves nothing of this run in the update
    // folder; a failed run's downloads stay there for whoever looks into the failure.
    if (outcome.end == RunEnd::Refused || outcome.end == RunEnd::GaveUp)
        removeStagedFiles();
    return outcome;
}

RunOutcome UpdateRun::abandon()
{
    removeStagedFiles();
    return ended(RunEnd::Closed);
}

void UpdateRun::finish(const RunOutcome &outcome) const
{
    MetricsFile file(m_env.paths.folder, [this](const std::string &line) { log(line); });
    file.setSetting(m_settings.metricsFile);
    if (file.enabled())
        file.write(runMetrics(outcome, m_figures, m_env.clock->now()));
    log("Esito aggiornamento: " + std::string(outcome.resultName()));
}

RunOutcome UpdateRun::steps()
{
    for (const auto step : {&UpdateRun::prepare, &UpdateRun::checkSettings, &UpdateRun::fetchManifest,
                            &UpdateRun::verifySet, &UpdateRun::downloadEntries, &UpdateRun::removeOldBackups}) {
        if (Next end = (this->*step)())
            return *end;
    }
    return install();
}

UpdateRun::Next UpdateRun::prepare()
{
    std::error_code ignored; // a folder that cannot be made fails the step that uses it
    fs::create_directory(m_updateFolder, ignored);
    fs::create_directory(m_backupFolder, ignored);
    // What a killed run left half-made; the run lock keeps any other run away.
    // Downloads broken off with a validator stay, for this run to resume.
    modDownload::removeAbandonedParts(m_updateFolder);
    removeBesideFiles(m_env.paths.folder, {"install", "copy"});
    removeBesideFiles(m_backupFolder, {"copy", "write"});
    // Until an interrupted update is undone, its journal is the only record of which backup
    // belongs where: a new update would write over it. The kiosk's own lock counts, not its lock
    // file, which a kiosk that died leaves behind.
    const ProgramPaths kiosk{m_env.paths.folder, KioskExeName};
    if (!UpdateRecovery(m_env.paths, *m_env.clock, m_log)
             .recoverInterrupted(platform::InstanceLock::heldElsewhere(kiosk.instanceLockFile())))
        return ended(RunEnd::Failed); // logged
    return {};
}

UpdateRun::Next UpdateRun::checkSettings()
{
    if (m_settings.trust.failed()) {
        log(m_settings.trust.error.description);
        return ended(RunEnd::Refused);
    }
    m_trust = m_settings.trust.value;
    if (m_settings.connection.failed()) {
        log(m_settings.connection.error.description);
        return ended(RunEnd::Refused);
    }
    m_download.connection = m_settings.connection.value;
    return {};
}

UpdateRun::Next UpdateRun::fetchManifest()
{
    m_download.timeoutSeconds = m_counts.read(modMain::Keys::downloadTimeout);
    m_observer.paintNow();
    log("Download file semaforo");
    // Read no further than a manifest may reach, whatever the server sends.
    if (!fetch(m_settings.updateUrl + ManifestName, ManifestName, ManifestMaxBytes + 1))
        return abandon();
    const fs::path manifestCopy = m_updateFolder / ManifestName;
    const Result<std::uintmax_t> length = fileLength(manifestCopy);
    if (length.failed())
        return failed(length.error);
    // With updates verified, "nothing to do" must be signed too: an empty answer anyone could
    // give would hold the kiosk on its old release unseen.
    if (length.value == 0 && !m_trust.verifies())
        return ended(RunEnd::NothingToDo);
    Result<std::string> text = readWholeFile(manifestCopy);
    if (text.failed())
        return failed(text.error);
    m_manifest = std::move(text.value);
    if (m_manifest.empty())
        return {};

    log("Verifica autenticità file di upload");
    ManifestReading manifest = readManifest(m_manifest, reservedNames(m_env.paths));
    switch (manifest.outcome) {
    case ManifestReading::Outcome::BadHeader:
        log("Sintassi file semaforo non compatibile!");
        return ended(RunEnd::Refused);
    case ManifestReading::Outcome::UnsafeEntry:
        log("Voce non valida nel file semaforo: '" + cutToCharacters(manifest.unsafeEntry, RefusedEntryShownCharacters)
            + "'");
        return ended(RunEnd::Refused);
    case ManifestReading::Outcome::TooManyEntries:
        return failed(errorFor(ErrorNumber::Overflow));
    case ManifestReading::Outcome::Accepted:
        break;
    }
    m_entries = std::move(manifest.entries);
    return {};
}

UpdateRun::Next UpdateRun::verifySet()
{
    if (!m_trust.verifies()) {
        log(unverifiedUpdatesLine(m_env.paths.settingsFile().filename().string()));
        return {};
    }
    // Nothing is installed, and the kiosk is not touched, unless the set is signed by a trusted
    // key, no older than the last one installed, and every file is the one signed for.
    for (const std::string_view file : {HashListName, SignatureName}) {
        const std::string name(file);
        log("Download file " + name);
        if (!fetch(m_settings.updateUrl + name, name,
                   (name == HashListName ? HashListMaxBytes : SignatureMaxBytes) + 1))
            return abandon();
    }
    Result<TrustedSet> set =
        verifyUpdateSet(m_trust, m_manifest, m_updateFolder, m_env.paths.trustStateFile(), *m_env.clock);
    if (set.failed()) {
        log(set.error.description);
        return ended(RunEnd::Refused);
    }
    log(set.value.signatureLine());
    m_trustedSet = std::move(set.value);
    if (m_manifest.empty()) {
        log(m_trustedSet->verifiedLine(0));
        keepUpdate(nullptr);
        return ended(RunEnd::NothingToDo);
    }
    m_hash.emplace();
    m_download.onData = [this](std::string_view bytes) { m_hash->add(bytes); };
    return {};
}

UpdateRun::Next UpdateRun::downloadEntries()
{
    const size_t listed = m_entries.size();
    if (m_trustedSet) {
        // What already has the signed bytes is neither fetched nor backed up nor replaced.
        const FolderNames installed(m_env.paths.folder);
        std::erase_if(m_entries, [&](const std::string &entry) {
            if (!installedUnchanged(entry, installed))
                return false;
            log("File " + entry + " invariato");
            return true;
        });
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const std::string &entry = m_entries[i];
        m_observer.showText(entry);
        log("Download file " + entry);
        if (!fetch(entryAddress(m_settings.updateUrl, entry), entry, 0, true))
            return abandon();
        const Result<std::uintmax_t> length = fileLength(m_updateFolder / entry);
        if (length.failed())
            return failed(length.error);
        if (m_trustedSet) {
            if (const ErrorInfo e = m_trustedSet->checkDigest(entry, m_hash->finish()); e.failed()) {
                log(e.description);
                return ended(RunEnd::Refused);
            }
        }
        if (length.value == 0)
            log("File '" + m_settings.updateUrl + entry + "' non trovato, scaricato con lunghezza zero!");
        m_observer.showProgress(i + 1, m_entries.size());
    }
    if (m_trustedSet)
        log(m_trustedSet->verifiedLine(listed)); // the unchanged ones were checked too
    // The new files' content reaches the disk before any of them takes an installed file's
    // place, in one go rather than file by file.
    if (!m_entries.empty() && platform::syncFileSystem(m_updateFolder).failed()) {
        for (const std::string &entry : m_entries) {
            // A file that cannot be synced fails where it is installed, which syncs once more.
            if (const ErrorInfo e = platform::syncPath(m_updateFolder / entry); e.failed())
                return failed(e);
        }
    }
    return {};
}

UpdateRun::Next UpdateRun::removeOldBackups()
{
    log("Cancellazione file di backup, vecchi di 15 giorni");
    if (const ErrorInfo e = removeExpiredBkuFiles(m_env.paths.folder, *m_env.clock); e.failed())
        return failed(e);
    return {};
}

RunOutcome UpdateRun::install()
{
    if (m_entries.empty()) {
        log("Cancellazione file temporanei (cartella update) ");
        removeStagedFiles();
        return startAndWatchKiosk(nullptr);
    }

    // An entry replaces the installed file of its name in any letter case.
    const FolderNames installed(m_env.paths.folder);
    std::vector<std::string> names;
    for (const std::string &entry : m_entries) {
        const std::string found = installed.find(entry);
        names.push_back(namesExecutable(entry, KioskExeName) ? KioskExeName : found.empty() ? entry : found);
    }

    UpdateTransaction transaction(m_env.paths.folder, m_backupFolder);
    if (const ErrorInfo e = transaction.begin(names, m_env.clock->localNow()); e.failed())
        return failed(e);

    // Undone as a whole: a kiosk of mixed versions is worse than the old one.
    const auto undo = [&](const RunOutcome &outcome) {
        rollBack(transaction);
        if (m_kioskStopped && !m_kiosk.running())
            (void)m_kiosk.start(); // logged when it fails; the run's end is told either way
        return outcome;
    };

    for (size_t i = 0; i < m_entries.size(); ++i) {
        const std::string &entry = m_entries[i];
        const bool isKiosk = namesExecutable(entry, KioskExeName);
        if (isKiosk) {
            if (Next end = stopKiosk())
                return undo(*end);
        }
        if (!transaction.entries()[i].backup.empty())
            log("Backup file " + entry);
        log("Aggiornamento file " + entry);
        const bool executable = isKiosk || namesExecutable(entry, m_env.paths.exeName);
        if (const ErrorInfo e = transaction.install(i, m_updateFolder / entry, executable); e.failed())
            return undo(failed(e));
    }
    if (const ErrorInfo e = transaction.markInstalled(); e.failed())
        return undo(failed(e));

    log("Cancellazione file temporanei (cartella update) ");
    removeStagedFiles();
    return startAndWatchKiosk(&transaction);
}

UpdateRun::Next UpdateRun::stopKiosk()
{
    log("Stop servizio Tesmora");
    if (!m_kiosk.running())
        return {};
    // Read first: once the request stands, nothing may fail before the kiosk is back.
    const Result<KioskService::Stop> stop = m_kiosk.StopTesmora(m_counts.read(modMain::Keys::shutdownTimeout));
    if (stop.failed())
        return failed(stop.error);
    if (stop.value == KioskService::Stop::GaveUp)
        return ended(RunEnd::GaveUp);
    m_kioskStopped = true;
    return {};
}

RunOutcome UpdateRun::startAndWatchKiosk(UpdateTransaction *transaction)
{
    const auto keep = [this, transaction] {
        keepUpdate(transaction);
        return ended(RunEnd::Finished);
    };
    if (m_kiosk.running() || !m_kiosk.installed())
        return keep();
    const Result<long> started = m_kiosk.start();
    const int16_t seconds = transaction ? m_counts.read(modMain::Keys::healthCheckSeconds) : 0;
    if (seconds == 0)
        return keep();

    // A kiosk that cannot come up after an update would leave the screen dark until someone
    // comes by: it gets the files it ran on before.
    m_observer.showText("Verifica avvio Tesmora...");
    m_observer.paintNow();
    const std::string problem = m_kiosk.watch(started, seconds);
    if (problem.empty()) {
        log("Verifica avvio Tesmora superata dopo " + std::to_string(seconds) + " secondi");
        return keep();
    }

    log("Aggiornamento annullato: " + problem);
    m_kiosk.end(started);
    rollBack(*transaction);
    (void)m_kiosk.start(); // logged when it fails; the update is undone either way
    return ended(RunEnd::RolledBack);
}

void UpdateRun::keepUpdate(UpdateTransaction *transaction)
{
    if (transaction) {
        UpdateRecovery(m_env.paths, *m_env.clock, m_log).commit(*transaction);
        m_figures.filesInstalled = transaction->entries().size();
    }
    // Only an update that stays raises the bar for replayed sets: a failed one may be tried again.
    if (m_trustedSet) {
        if (const ErrorInfo e = recordAcceptedSet(*m_trustedSet, m_env.paths.trustStateFile()); e.failed())
            log(e.description);
    }
}

void UpdateRun::rollBack(UpdateTransaction &transaction)
{
    // A failure is logged and leaves the journal, which the next run finds before anything else.
    (void)UpdateRecovery(m_env.paths, *m_env.clock, m_log).rollBack(transaction);
}

bool UpdateRun::installedUnchanged(const std::string &entry, const FolderNames &installed) const
{
    const std::string name = namesExecutable(entry, KioskExeName) ? KioskExeName : installed.find(entry);
    if (name.empty())
        return false;
    Result<std::string> digest = fileSha256(m_env.paths.folder / name);
    // A file that cannot be read is fetched and replaced as any other.
    return digest.ok() && m_trustedSet->checkDigest(entry, digest.value).ok();
}

bool UpdateRun::fetch(const std::string &address, const std::string &name, std::uintmax_t maxBytes, bool resume)
{
    m_staged.push_back(name);
    m_download.maxBytes = maxBytes;
    m_download.resume = resume;
    // A failed download logs its line and leaves no file, so the run fails where it reads the
    // file ("File not found", as it always has).
    const modDownload::Download done =
        modDownload::DownloadFile(address, (m_updateFolder / name).string(), m_download).value;
    m_figures.bytesDownloaded += done.bytes - done.resumedFrom;
    m_observer.downloadEnded();
    return !m_stop.stop_requested();
}

void UpdateRun::removeStagedFiles()
{
    // Only what this run put there: the folder may be a link to a place that holds other files.
    for (const std::string &name : m_staged)
        (void)removeFileIfPresent(m_updateFolder / name); // what stays is overwritten by the next run
    modDownload::removeAllParts(m_updateFolder);
}
