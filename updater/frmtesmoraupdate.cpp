#include "frmtesmoraupdate.h"

#include "activityblinker.h"
#include "fileops.h"
#include "installfile.h"
#include "moddownload.h"
#include "modmain.h"
#include "numberconversion.h"
#include "platform.h"
#include "tesmoraart.h"
#include "updatemanifest.h"
#include "updaterules.h"

#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;
using modMain::WriteLog;

namespace {

constexpr int ClientWidth = 4680;
constexpr int ClientHeight = 975;
constexpr int BarLeft = 120;
constexpr int BarTop = 360;
constexpr int BarWidth = 4455;
constexpr int BarHeight = 255;

const char *const UpdateFolder = "update";
const char *const BackupFolder = "backup";

QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

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

// Deletes the files directly in folder, passing over any that resist.
void emptyFolder(const fs::path &folder)
{
    std::error_code ec;
    for (const fs::path &file : filesIn(folder, ec))
        fs::remove(file, ec);
}

} // namespace

int progressStep(int barWidthTwips, std::size_t entryCount)
{
    return static_cast<int>(static_cast<std::size_t>(barWidthTwips) / entryCount);
}

frmTesmoraUpdate::frmTesmoraUpdate(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName("frmTesmoraUpdate");
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    setWindowIcon(tesmoraIcon());

    cmdUpDate = new QPushButton("UpDate", this);
    cmdUpDate->setObjectName("cmdUpDate");
    cmdUpDate->setGeometry(twipsRect(3600, 0, 975, 375));

    lblFile = new QLabel("...", this);
    lblFile->setObjectName("lblFile");
    lblFile->setGeometry(twipsRect(120, 120, 135, 195));
    lblFile->adjustSize();

    // The filled part lies under the frame, so the frame's outline stays visible over it.
    ShpFileA = filledShape(this, "ShpFileA", QColor(0, 0, 255));
    ShpFileA->setGeometry(twipsRect(BarLeft, BarTop, 615, BarHeight));

    ShpFileB = new QFrame(this);
    ShpFileB->setObjectName("ShpFileB");
    ShpFileB->setFrameShape(QFrame::Box);
    ShpFileB->setGeometry(twipsRect(BarLeft, BarTop, BarWidth, BarHeight));

    ShpActivity = filledShape(this, "ShpActivity", QColor(255, 0, 0));
    ShpActivity->setGeometry(twipsRect(120, 720, BarWidth, 135));

    setTabOrder(lblFile, cmdUpDate);
    connect(cmdUpDate, &QPushButton::clicked, this, [this] { cmdUpDate_Click(); });

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Form_Load();
}

void frmTesmoraUpdate::Form_Load()
{
    setWindowTitle(QString::fromStdString(modMain::program().exeName) + " v" TESMORA_VERSION_TEXT);
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
    QMetaObject::invokeMethod(this, [this] { Form_Activate(); }, Qt::QueuedConnection);
}

void frmTesmoraUpdate::Form_Activate()
{
    const auto &paths = modMain::program();
    std::error_code ignored;
    fs::create_directory(paths.file(UpdateFolder), ignored);
    fs::create_directory(paths.file(BackupFolder), ignored);
    cmdUpDate_Click();
}

void frmTesmoraUpdate::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

void frmTesmoraUpdate::Form_Unload()
{
    emptyFolder(modMain::program().file(UpdateFolder));
    platform::endProcessNow(0);
}

void frmTesmoraUpdate::closeWindow()
{
    close();
    Form_Unload(); // reached only if the close event did not come through
}

void frmTesmoraUpdate::cmdUpDate_Click()
{
    // The run never returns to the event loop except through downloads, where a click must not
    // start a second run over the first.
    if (m_running)
        return;
    m_running = true;
    cmdUpDate->setEnabled(false);

    const RunOutcome outcome = updateRun();
    if (outcome.end == RunEnd::CloseWindow)
        closeWindow();
    if (outcome.end == RunEnd::Failed) {
        WriteLog("Error " + errorText(outcome.error));
        // A kiosk this run stopped would otherwise stay off the screen until someone comes by;
        // its executable is whole, old or new, since files are replaced by rename.
        if (m_kioskStopped)
            startKioskIfNotRunning();
        platform::endProcessNow(1);
    }
    platform::endProcessNow(0);
}

frmTesmoraUpdate::RunOutcome frmTesmoraUpdate::updateRun()
{
    const auto &paths = modMain::program();
    const std::string &url = modMain::UpdateUrl;
    const fs::path updateFolder = paths.file(UpdateFolder);
    ActivityBlinker blinker(*this, *ShpActivity);
    const auto download = [&blinker](const std::string &address, const fs::path &local) {
        modDownload::DownloadFile(address, local.string(), [&blinker] { blinker.onBlock(); });
        blinker.finish();
    };
    const auto failed = [](const ErrorInfo &error) { return RunOutcome{RunEnd::Failed, error}; };

    repaint();
    WriteLog("Download file semaforo");
    const fs::path manifestCopy = updateFolder / "update.txt";
    download(url + "update.txt", manifestCopy);
    std::uintmax_t length = 0;
    if (const ErrorInfo e = fileLength(manifestCopy, length); e.failed())
        return failed(e);
    if (length == 0)
        return {RunEnd::EndAtOnce, {}};
    std::string content;
    if (const ErrorInfo e = readWholeFile(manifestCopy, content); e.failed())
        return failed(e);

    WriteLog("Verifica autenticità file di upload");
    const ManifestReading manifest = readManifest(content);
    switch (manifest.outcome) {
    case ManifestReading::Outcome::BadHeader:
        WriteLog("Sintassi file semaforo non compatibile!");
        return {RunEnd::CloseWindow, {}};
    case ManifestReading::Outcome::UnsafeEntry:
        WriteLog("Voce non valida nel file semaforo: '" + manifest.unsafeEntry + "'");
        return {RunEnd::CloseWindow, {}};
    case ManifestReading::Outcome::TooManyEntries:
        return failed(errorFor(ErrorNumber::Overflow));
    case ManifestReading::Outcome::Accepted:
        break;
    }
    const std::vector<std::string> &entries = manifest.entries;

    for (const std::string &entry : entries) {
        lblFile->setText(QString::fromStdString(entry));
        lblFile->adjustSize();
        WriteLog("Download file " + entry);
        const fs::path downloaded = updateFolder / entry;
        download(url + entry, downloaded);
        if (const ErrorInfo e = fileLength(downloaded, length); e.failed())
            return failed(e);
        if (length == 0)
            WriteLog("File '" + url + entry + "' non trovato, scaricato con lunghezza zero!");
        widenProgress(entries.size());
    }

    WriteLog("Cancellazione file di backup, vecchi di 15 giorni");
    if (const ErrorInfo e = removeExpiredBkuFiles(paths.folder, modMain::clock()); e.failed())
        return failed(e);

    // Copies half-made by a run that was killed; the run lock keeps any other run away.
    removeInstallLeftovers(paths.folder);
    removeInstallLeftovers(paths.file(BackupFolder));
    for (const std::string &entry : entries) {
        if (const ErrorInfo e = installEntry(entry); e.failed())
            return failed(e);
    }

    WriteLog("Cancellazione file temporanei (cartella update) ");
    emptyFolder(updateFolder);

    startKioskIfNotRunning();
    return {RunEnd::Finished, {}};
}

void frmTesmoraUpdate::startKioskIfNotRunning()
{
    const auto &paths = modMain::program();
    if (ordinaryFileExists(paths.file(modMain::KioskLockFile)) || !ordinaryFileExists(paths.file(modMain::KioskExeName)))
        return;
    WriteLog("Start servizio Tesmora");
    if (!startKiosk())
        WriteLog("Impossibile riavviare servizio Tesmora");
}

ErrorInfo frmTesmoraUpdate::installEntry(const std::string &entry)
{
    const auto &paths = modMain::program();
    const bool isKiosk = namesExecutable(entry, modMain::KioskExeName);
    if (isKiosk) {
        WriteLog("Stop servizio Tesmora");
        if (ordinaryFileExists(paths.file(modMain::KioskLockFile))) {
            if (const ErrorInfo e = StopTesmora(); e.failed())
                return e;
            m_kioskStopped = true;
        }
    }

    const fs::path installed = paths.file(entry);
    if (ordinaryFileExists(installed)) {
        WriteLog("Backup file " + entry);
        const fs::path copy = paths.file(BackupFolder)
            / backupCopyName(entry, modMain::clock().localNow());
        // An existing copy is never overwritten: it may hold the only older version.
        if (const ErrorInfo e = copyToNewFile(installed, copy); e.failed())
            return e;
    }

    WriteLog("Aggiornamento file " + entry);
    // Replaced by rename, so the program folder never lacks the file, not even the kiosk's
    // executable, when the copy fails half-way.
    const bool executable = isKiosk || namesExecutable(entry, paths.exeName);
    return installFile(paths.file(UpdateFolder) / entry, installed, executable);
}

ErrorInfo frmTesmoraUpdate::StopTesmora()
{
    const auto &paths = modMain::program();
    const fs::path request = paths.file(modMain::ShutdownRequestFile);
    if (const ErrorInfo e = appendLine(request, dateTimeText(modMain::clock().localNow())); e.failed())
        return e;

    const Int16Result timeout = toInt16(modMain::IniFile.ReadKey("data", "shutdown_timeout", "15"));
    if (!timeout.ok())
        return timeout.error;

    for (int16_t checks = 0; checks < timeout.value; ++checks) {
        if (!ordinaryFileExists(paths.file(modMain::KioskLockFile)))
            return {};
        // The kiosk looks for the request on its own schedule; the window stays still meanwhile.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    const std::string count = std::to_string(timeout.value);
    WriteLog("Imposibile terminare il programma Tesmora, tentativi effettuati " + count + " in "
             + count + " secondi");
    if (removeFileIfPresent(request).failed())
        WriteLog("Impossibile cancellare file Shutdown.txt");
    if (!startKiosk())
        WriteLog("Impossibile riavviare servizio Tesmora");
    closeWindow();
}

bool frmTesmoraUpdate::startKiosk()
{
    const auto &paths = modMain::program();
    return platform::startProgram(paths.file(modMain::KioskExeName), paths.folder);
}

void frmTesmoraUpdate::widenProgress(std::size_t entryCount)
{
    m_shpFileAWidth += progressStep(BarWidth, entryCount);
    ShpFileA->resize(twipsToPixels(m_shpFileAWidth), ShpFileA->height());
}
