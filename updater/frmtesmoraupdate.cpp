#include "frmtesmoraupdate.h"

#include "activityblinker.h"
#include "fileops.h"
#include "hashworker.h"
#include "metricsfile.h"
#include "moddownload.h"
#include "modmain.h"
#include "platform.h"
#include "tesmoraart.h"
#include "text.h"
#include "updatemanifest.h"
#include "updaterecovery.h"
#include "updaterules.h"
#include "updatetransaction.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <chrono>
#include <map>

namespace fs = std::filesystem;
using modMain::BackupFolder;
using modMain::KioskExeName;
using modMain::UpdateFolder;

namespace {

constexpr int ClientWidth = 4680;
constexpr int ClientHeight = 975;
constexpr int BarLeft = 120;
constexpr int BarTop = 360;
constexpr int BarWidth = 4455;
constexpr int BarHeight = 255;

const char *const ManifestName = "update.txt";

QWidget *filledShape(QWidget *parent, const char *name, const QColor &colour)
{
    auto *shape = new QWidget(parent);
    shape->setObjectName(name);
    shape->setAutoFillBackground(true);
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colour);
    shape->setPalette(palette);
    return shape;
}

} // namespace

int progressStep(int barWidthTwips, std::size_t entryCount)
{
    return static_cast<int>(static_cast<std::size_t>(barWidthTwips) / entryCount);
}

frmTesmoraUpdate::frmTesmoraUpdate(UpdaterEnvironment environment, QWidget *parent)
    : QWidget(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint)
    , m_env(std::move(environment))
    , m_log(LogStyle::Updater, m_env.paths.folder, m_env.paths.exeName, *m_env.clock)
    , m_kiosk(m_env, m_log)
    , m_counts(modMain::IniFile, [this](const std::string &line) { WriteLog(line); })
    , m_updateFolder(m_env.paths.file(UpdateFolder))
    , m_backupFolder(m_env.paths.file(BackupFolder))
    , m_runStarted(m_env.clock->now())
{
    setObjectName("frmTesmoraUpdate");
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    setWindowIcon(tesmoraIcon());

    cmdUpDate = new QPushButton("UpDate", this);
    cmdUpDate->setObjectName("cmdUpDate");
    cmdUpDate->setGeometry(toPixels({3600, 0, 975, 375}));

    lblFile = new QLabel("...", this);
    lblFile->setObjectName("lblFile");
    lblFile->setGeometry(toPixels({120, 120, 135, 195}));
    lblFile->adjustSize();

    // The filled part lies under the frame, so the frame's outline stays visible over it.
    ShpFileA = filledShape(this, "ShpFileA", QColor(0, 0, 255));
    ShpFileA->setGeometry(toPixels({BarLeft, BarTop, 615, BarHeight}));

    ShpFileB = new QFrame(this);
    ShpFileB->setObjectName("ShpFileB");
    ShpFileB->setFrameShape(QFrame::Box);
    ShpFileB->setGeometry(toPixels({BarLeft, BarTop, BarWidth, BarHeight}));

    ShpActivity = filledShape(this, "ShpActivity", QColor(255, 0, 0));
    ShpActivity->setGeometry(toPixels({120, 720, BarWidth, 135}));

    setTabOrder(lblFile, cmdUpDate);
    connect(cmdUpDate, &QPushButton::clicked, this, [this] { cmdUpDate_Click(); });

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Form_Load();
}

frmTesmoraUpdate::~frmTesmoraUpdate() = default;

void frmTesmoraUpdate::Form_Load()
{
    setWindowTitle(QString::fromStdString(m_env.paths.exeName) + " v" TESMORA_VERSION_TEXT);
    m_shpFileAWidth = 0;
    ShpFileA->resize(0, ShpFileA->height());
}

void frmTesmoraUpdate::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    // Queued, so that the window is on screen before the run holds the thread.
    QMetaObject::invokeMethod(
        this, [this] { Form_Activate(); }, Qt::QueuedConnection);
}

void frmTesmoraUpdate::Form_Activate()
{
    std::error_code ignored;
    fs::create_directory(m_updateFolder, ignored);
    fs::create_directory(m_backupFolder, ignored);
    cmdUpDate_Click();
}

void frmTesmoraUpdate::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

void frmTesmoraUpdate::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    removeStagedFiles();
    // Closed by hand in the middle of a run, the update did not happen.
    endWith(m_outcome ? m_outcome->exitCode() : 1);
}

void frmTesmoraUpdate::endWith(int exitCode)
{
    writeMetrics(exitCode);
    m_env.endProcess(exitCode);
}

void frmTesmoraUpdate::writeMetrics(int exitCode)
{
    MetricsFile file(m_env.paths.folder, [this](const std::string &line) { WriteLog(line); });
    file.setSetting(modMain::IniFile.ReadKey("data", "metrics_file", ""));
    if (!file.enabled())
        return;
    static const std::map<RunEnd, const char *> results{
        {RunEnd::Finished, "finished"}, {RunEnd::NothingToDo, "nothing_to_do"},
        {RunEnd::Refused, "refused"},   {RunEnd::Failed, "failed"},
        {RunEnd::GaveUp, "gave_up"},    {RunEnd::RolledBack, "rolled_back"}};
    const TimePoint now = m_env.clock->now();
    const auto seconds = [](TimePoint::duration d) { return std::chrono::duration<double>(d).count(); };
    const std::vector<Metric> metrics{
        {"tesmora_update_last_run_timestamp_seconds",
         "When the updater's last run ended.",
         "gauge",
         seconds(now.time_since_epoch()),
         {}},
        {"tesmora_update_last_run_success",
         "1 when the last run installed its update or had nothing to do.",
         "gauge",
         exitCode == 0 ? 1.0 : 0.0,
         {}},
        {"tesmora_update_last_run_result",
         "How the last run ended.",
         "gauge",
         1,
         {{"result",
           !m_outcome             ? "closed"
               : m_outcome->stale ? "stale"
                                  : results.at(m_outcome->end)}}},
        {"tesmora_update_files_installed",
         "Files the last run installed and kept.",
         "gauge",
         static_cast<double>(m_filesInstalled),
         {}},
        {"tesmora_update_downloaded_bytes",
         "Bytes the last run downloaded.",
         "gauge",
         static_cast<double>(m_bytesDownloaded),
         {}},
        {"tesmora_update_duration_seconds", "How long the last run took.", "gauge", seconds(now - m_runStarted), {}},
        {"tesmora_update_info", "The updater's version.", "gauge", 1, {{"version", TESMORA_VERSION_TEXT}}},
    };
    file.write(metrics);
}

void frmTesmoraUpdate::removeStagedFiles()
{
    // Only what this run put there: the folder may be a link to a place that holds other files.
    for (const std::string &name : m_staged)
        (void)removeFileIfPresent(m_updateFolder / name); // passed over, as the window's unload does
    removeBesideFiles(m_updateFolder, {"download"});
}

void frmTesmoraUpdate::cmdUpDate_Click()
{
    // The run lets window events through during downloads, where a click must not start a
    // second run over the first.
    if (m_running)
        return;
    m_running = true;
    cmdUpDate->setEnabled(false);

    m_runStarted = m_env.clock->now();
    m_outcome = updateRun();
    if (m_outcome->end == RunEnd::Failed && m_outcome->error.failed())
        WriteLog("Error " + errorText(m_outcome->error));
    // Whatever the server offered, or failed to: a fleet held on an old release is told.
    if (const std::string stale = staleSetLine(m_trust, m_env.paths.trustStateFile(), m_env.clock->now());
        !stale.empty()) {
        WriteLog(stale);
        m_outcome->stale = true;
    }
    if (m_outcome->end == RunEnd::Refused || m_outcome->end == RunEnd::GaveUp) {
        close();
        Form_Unload(); // in case the close event did not come through
        return;
    }
    endWith(m_outcome->exitCode());
}

frmTesmoraUpdate::RunOutcome frmTesmoraUpdate::updateRun()
{
    const auto failed = [](const ErrorInfo &error) { return RunOutcome{RunEnd::Failed, error}; };
    const std::string &url = modMain::UpdateUrl;

    // What a killed run left half-made; the run lock keeps any other run away.
    removeBesideFiles(m_updateFolder, {"download"});
    removeBesideFiles(m_env.paths.folder, {"install", "copy"});
    removeBesideFiles(m_backupFolder, {"copy", "write"});
    // Until an interrupted update is undone, its journal is the only record of which backup
    // belongs where: a new update would write over it.
    if (!recoverInterruptedUpdate())
        return {RunEnd::Failed, {}};

    const Result<TrustSettings> trust = readTrustSettings(modMain::IniFile);
    if (trust.failed()) {
        WriteLog(trust.error.description);
        return {RunEnd::Refused, {}};
    }
    m_trust = trust.value;

    ActivityBlinker blinker(*this, *ShpActivity);
    modDownload::Options options;
    options.userAgent = m_env.paths.exeName;
    options.log = [this](const std::string &line) { WriteLog(line); };
    options.onBlock = [&blinker] { blinker.onBlock(); };
    options.timeoutSeconds = m_counts.read(modMain::Keys::downloadTimeout);
    const auto download = [&](const std::string &address, const std::string &name, std::uintmax_t maxBytes) {
        m_staged.push_back(name);
        options.maxBytes = maxBytes;
        m_bytesDownloaded += modDownload::DownloadFile(address, (m_updateFolder / name).string(), options).value.bytes;
        blinker.finish();
    };

    repaint();
    WriteLog("Download file semaforo");
    const fs::path manifestCopy = m_updateFolder / ManifestName;
    // Read no further than a manifest may reach, whatever the server sends.
    download(url + ManifestName, ManifestName, ManifestMaxBytes + 1);
    const Result<std::uintmax_t> manifestLength = fileLength(manifestCopy);
    if (manifestLength.failed())
        return failed(manifestLength.error);
    // With updates verified, "nothing to do" must be signed too: an empty answer anyone could
    // give would hold the kiosk on its old release unseen.
    if (manifestLength.value == 0 && !trust.value.verifies())
        return {RunEnd::NothingToDo, {}};
    const Result<std::string> manifestText = readWholeFile(manifestCopy);
    if (manifestText.failed())
        return failed(manifestText.error);
    const std::string &content = manifestText.value;

    ManifestReading manifest;
    manifest.outcome = ManifestReading::Outcome::Accepted;
    if (!content.empty()) {
        WriteLog("Verifica autenticità file di upload");
        manifest = readManifest(content, reservedNames(m_env.paths));
    }
    switch (manifest.outcome) {
    case ManifestReading::Outcome::BadHeader:
        WriteLog("Sintassi file semaforo non compatibile!");
        return {RunEnd::Refused, {}};
    case ManifestReading::Outcome::UnsafeEntry:
        WriteLog("Voce non valida nel file semaforo: '"
                 + cutToCharacters(manifest.unsafeEntry, RefusedEntryShownCharacters) + "'");
        return {RunEnd::Refused, {}};
    case ManifestReading::Outcome::TooManyEntries:
        return failed(errorFor(ErrorNumber::Overflow));
    case ManifestReading::Outcome::Accepted:
        break;
    }
    const std::vector<std::string> &entries = manifest.entries;

    // Nothing is installed, and the kiosk is not touched, unless the set is signed by a trusted
    // key, no older than the last one installed, and every file is the one signed for.
    std::optional<HashWorker> hash; // a thread of its own, only when there is something to check
    if (trust.value.verifies()) {
        for (const std::string_view name : {HashListName, SignatureName}) {
            WriteLog("Download file " + std::string(name));
            download(url + std::string(name), std::string(name),
                     (name == HashListName ? HashListMaxBytes : SignatureMaxBytes) + 1);
        }
        Result<TrustedSet> check =
            verifyUpdateSet(trust.value, content, m_updateFolder, m_env.paths.trustStateFile(), *m_env.clock);
        if (check.failed()) {
            WriteLog(check.error.description);
            return {RunEnd::Refused, {}};
        }
        WriteLog(check.value.verifiedLine());
        m_trustedSet = std::move(check.value);
        if (content.empty()) {
            keepUpdate(nullptr);
            return {RunEnd::NothingToDo, {}};
        }
        hash.emplace();
        options.onData = [&hash](std::string_view bytes) { hash->add(bytes); };
    } else {
        WriteLog(unverifiedUpdatesLine(m_env.paths.settingsFile().filename().string()));
    }

    for (const std::string &entry : entries) {
        lblFile->setText(QString::fromStdString(entry));
        lblFile->adjustSize();
        WriteLog("Download file " + entry);
        download(entryAddress(url, entry), entry, 0);
        const Result<std::uintmax_t> length = fileLength(m_updateFolder / entry);
        if (length.failed())
            return failed(length.error);
        if (m_trustedSet) {
            if (const ErrorInfo e = m_trustedSet->checkDigest(entry, hash->finish()); e.failed()) {
                WriteLog(e.description);
                return {RunEnd::Refused, {}};
            }
        }
        if (length.value == 0)
            WriteLog("File '" + url + entry + "' non trovato, scaricato con lunghezza zero!");
        widenProgress(entries.size());
    }
    // The new files' content reaches the disk before any of them takes an installed file's
    // place, in one go rather than file by file.
    if (!entries.empty() && platform::syncFileSystem(m_updateFolder).failed()) {
        for (const std::string &entry : entries) {
            // A file that cannot be synced fails where it is installed, which syncs once more.
            if (const ErrorInfo e = platform::syncPath(m_updateFolder / entry); e.failed())
                return failed(e);
        }
    }

    WriteLog("Cancellazione file di backup, vecchi di 15 giorni");
    if (const ErrorInfo e = removeExpiredBkuFiles(m_env.paths.folder, *m_env.clock); e.failed())
        return failed(e);

    return installAll(entries);
}

frmTesmoraUpdate::RunOutcome frmTesmoraUpdate::installAll(const std::vector<std::string> &entries)
{
    if (entries.empty()) {
        WriteLog("Cancellazione file temporanei (cartella update) ");
        removeStagedFiles();
        return startAndWatchKiosk(nullptr);
    }

    // An entry replaces the installed file of its name in any letter case.
    const FolderNames installed(m_env.paths.folder);
    std::vector<std::string> names;
    for (const std::string &entry : entries) {
        const std::string found = installed.find(entry);
        names.push_back(namesExecutable(entry, KioskExeName) ? KioskExeName : found.empty() ? entry : found);
    }

    UpdateTransaction transaction(m_env.paths.folder, m_backupFolder);
    if (const ErrorInfo e = transaction.begin(names, m_env.clock->localNow()); e.failed())
        return {RunEnd::Failed, e};

    // Undone as a whole: a kiosk of mixed versions is worse than the old one.
    const auto undo = [&](RunEnd end, const ErrorInfo &error) {
        rollBack(transaction);
        if (m_kioskStopped && !m_kiosk.running())
            (void)m_kiosk.start(); // logged when it fails; the run's end is the failure above
        return RunOutcome{end, error};
    };

    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string &entry = entries[i];
        const bool isKiosk = namesExecutable(entry, KioskExeName);
        if (isKiosk) {
            WriteLog("Stop servizio Tesmora");
            if (m_kiosk.running()) {
                // Read first: once the request stands, nothing may fail before the kiosk is back.
                const Result<KioskService::Stop> stop =
                    m_kiosk.StopTesmora(m_counts.read(modMain::Keys::shutdownTimeout));
                if (stop.failed())
                    return undo(RunEnd::Failed, stop.error);
                if (stop.value == KioskService::Stop::GaveUp)
                    return undo(RunEnd::GaveUp, {});
                m_kioskStopped = true;
            }
        }
        if (!transaction.entries()[i].backup.empty())
            WriteLog("Backup file " + entry);
        WriteLog("Aggiornamento file " + entry);
        const bool executable = isKiosk || namesExecutable(entry, m_env.paths.exeName);
        if (const ErrorInfo e = transaction.install(i, m_updateFolder / entry, executable); e.failed())
            return undo(RunEnd::Failed, e);
    }
    if (const ErrorInfo e = transaction.markInstalled(); e.failed())
        return undo(RunEnd::Failed, e);

    WriteLog("Cancellazione file temporanei (cartella update) ");
    removeStagedFiles();
    return startAndWatchKiosk(&transaction);
}

bool frmTesmoraUpdate::rollBack(UpdateTransaction &transaction)
{
    return UpdateRecovery(m_env.paths, *m_env.clock, m_log).rollBack(transaction);
}

bool frmTesmoraUpdate::recoverInterruptedUpdate()
{
    // The kiosk's own lock, not its lock file, which a kiosk that died leaves behind.
    const ProgramPaths kiosk{m_env.paths.folder, KioskExeName};
    return UpdateRecovery(m_env.paths, *m_env.clock, m_log)
        .recoverInterrupted(platform::InstanceLock::heldElsewhere(kiosk.instanceLockFile()));
}

void frmTesmoraUpdate::keepUpdate(UpdateTransaction *transaction)
{
    if (transaction) {
        UpdateRecovery(m_env.paths, *m_env.clock, m_log).commit(*transaction);
        m_filesInstalled = transaction->entries().size();
    }
    // Only an update that stays raises the bar for replayed sets: a failed one may be tried again.
    if (m_trustedSet) {
        if (const ErrorInfo e = recordAcceptedSet(*m_trustedSet, m_env.paths.trustStateFile()); e.failed())
            WriteLog(e.description);
    }
}

frmTesmoraUpdate::RunOutcome frmTesmoraUpdate::startAndWatchKiosk(UpdateTransaction *transaction)
{
    const auto keep = [this, transaction] {
        keepUpdate(transaction);
        return RunOutcome{RunEnd::Finished, {}};
    };
    if (m_kiosk.running() || !m_kiosk.installed())
        return keep();
    const Result<long> started = m_kiosk.start();
    const int16_t seconds = transaction ? m_counts.read(modMain::Keys::healthCheckSeconds) : 0;
    if (seconds == 0)
        return keep();

    // A kiosk that cannot come up after an update would leave the screen dark until someone
    // comes by: it gets the files it ran on before.
    showActivity("Verifica avvio Tesmora...");
    const std::string problem = m_kiosk.watch(started, seconds);
    if (problem.empty())
        return keep();

    WriteLog("Aggiornamento annullato: " + problem);
    m_kiosk.end(started);
    rollBack(*transaction);
    (void)m_kiosk.start(); // logged when it fails; the update is undone either way
    return {RunEnd::RolledBack, {}};
}

void frmTesmoraUpdate::showActivity(const std::string &text)
{
    lblFile->setText(QString::fromStdString(text));
    lblFile->adjustSize();
    repaint();
}

void frmTesmoraUpdate::widenProgress(std::size_t entryCount)
{
    m_shpFileAWidth += progressStep(BarWidth, entryCount);
    ShpFileA->resize(twipsToPixels(m_shpFileAWidth), ShpFileA->height());
}
