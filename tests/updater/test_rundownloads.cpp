// The update run's manifest and downloads, in this process.

#include "runfixture.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace RunLines;

const std::string OpenFailed = "Error download (-2147220504) Errore in fase di chiamata InternetOpen";
const std::string NotFound = "Error (53) File not found";
const std::string BrokenOff = "Error download (-2147220504) Trasferimento interrotto: ";

void setAge(const fs::path &path, std::chrono::system_clock::duration age, const Clock &clock)
{
    fs::last_write_time(path, std::chrono::file_clock::from_sys(clock.now() - age));
}

TEST_F(Run, EmptyOneBlockAndOneMebibyteBodiesAreInstalledByteForByte)
{
    const std::string four = arbitraryBytes(4096, 1);
    const std::string big = arbitraryBytes(1 << 20, 2);
    writeFile(dir / "zero.bin", "was not empty");
    publishManifest({"zero.bin", "four.bin", "big.bin"});
    publish("zero.bin", "");
    publish("four.bin", four);
    publish("big.bin", big);

    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(log(),
              (Lines{Start, Check, Unverified, "Download file zero.bin",
                     "File '" + server.baseUrl() + "zero.bin' non trovato, scaricato con lunghezza zero!",
                     "Download file four.bin", "Download file big.bin", Cleanup, "Backup file zero.bin",
                     "Aggiornamento file zero.bin", "Aggiornamento file four.bin", "Aggiornamento file big.bin",
                     EmptyUpdate}));
    EXPECT_EQ(readFile(dir / "zero.bin"), "");
    EXPECT_EQ(readFile(dir / "four.bin"), four);
    EXPECT_EQ(readFile(dir / "big.bin"), big);
    for (const auto &request : server.requests())
        EXPECT_EQ(request.userAgent, "TesmoraUpdate") << request.path;
}

// Whatever fails, the download says why and leaves no file, the run ends on the file it then
// cannot find, and nothing is installed.
TEST_F(Run, AFailedDownloadEndsTheRunAndInstallsNothing)
{
    writeFile(dir / "a", "installed a");
    writeFile(dir / "big", "installed big");
    struct Case
    {
        const char *what;
        std::function<void()> publishing;
        Lines lines;
        Names staged;
    };
    const RefusingPort nobody;
    const Case cases[] = {
        {"no server", [&] { settings("update_url=" + nobody.baseUrl() + "\r\n"); }, {Start, OpenFailed, NotFound}, {}},
        {"a server failure on the manifest",
         [&] { server.serve("/update.txt", "<html>Internal Server Error</html>", 500, "text/html"); },
         {Start, "Error download (-2147220504) Risposta del server: 500", NotFound},
         {}},
        {"an entry not published, its copy of an earlier run in the folder",
         [&] {
             writeFile(dir / "update" / "missing", "stale copy");
             publishManifest({"a", "missing"});
             publish("a", "new a");
         },
         {Start, Check, Unverified, "Download file a", "Download file missing",
          "Error download (-2147220504) Risposta del server: 404", NotFound},
         {"a", "update.txt"}},
        {"a transfer broken off",
         [&] {
             publishManifest({"big"});
             server.serveBrokenOff("/big", arbitraryBytes(200000, 4), 50000);
         },
         {Start, Check, Unverified, "Download file big", BrokenOff, NotFound},
         {"update.txt"}},
        {"a manifest of an earlier run in the folder, none published",
         [&] {
             writeFile(dir / "update" / "update.txt", "TesmoraUpdate:\r\nstale\r\n");
             server.serve("/update.txt", "", 404);
         },
         {Start, "Error download (-2147220504) Risposta del server: 404", NotFound},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        settings();
        forgetLog();
        c.publishing();
        EXPECT_EQ(run(), RunEnd::Failed);
        Lines lines = log();
        for (std::string &line : lines) {
            if (line.starts_with(BrokenOff))
                line.resize(BrokenOff.size()); // the reason is libcurl's
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(folderNames(dir / "update"), c.staged);
        EXPECT_EQ(readFile(dir / "a"), "installed a");
        EXPECT_EQ(readFile(dir / "big"), "installed big");
        fs::remove_all(dir / "update");
        fs::create_directory(dir / "update");
    }
    EXPECT_EQ(server.requestCount("/stale"), 0u);
    EXPECT_EQ(exitCodes, std::vector<int>(std::size(cases), 1));
}

TEST_F(Run, NoSettingsFileMeansNoAddressAndTheWorkFoldersAreMadeFirst)
{
    fs::remove(dir / "TesmoraUpdate.ini");
    fs::remove(dir / "update");
    fs::remove(dir / "backup");
    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_EQ(log(), (Lines{Start, OpenFailed, NotFound}));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(fs::is_directory(dir / "update"));
    EXPECT_TRUE(fs::is_directory(dir / "backup"));
}

TEST_F(Run, ABadHeaderOrAnUnsafeEntryRefusesTheManifestBeforeAnyDownload)
{
    writeFile(dir / "update" / "leftover", "x");
    publish("f", "content of f");
    publish("update.txt", "<html><body>Not here</body></html>\r\nf\r\n");
    EXPECT_EQ(run(), RunEnd::Refused);
    publish("update.txt", "TesmoraUpdate:\r\nf\r\n../tesmora\r\n");
    EXPECT_EQ(run(), RunEnd::Refused);
    EXPECT_EQ(log(), (Lines{Start, Check, BadSyntax, Start, Check, "Voce non valida nel file semaforo: '../tesmora'"}));
    EXPECT_EQ(server.requestCount("/f"), 0u);
    EXPECT_FALSE(fs::exists(dir / "f"));
    EXPECT_EQ(folderNames(dir / "update"), Names{"leftover"}) << "only what the run put there goes";
    EXPECT_EQ(folderNames(dir / "backup"), Names{});
}

TEST_F(Run, AnEmptyManifestEndsAtOnceAndAHeaderAloneStillCleansUpAndStartsTheKiosk)
{
    writeFile(dir / "tesmora", "the kiosk");
    writeFile(dir / "expired.bku", "x");
    setAge(dir / "expired.bku", 20 * 24h, clock);
    publish("update.txt", "");
    EXPECT_EQ(run(), RunEnd::NothingToDo);
    EXPECT_EQ(log(), Lines{Start});
    EXPECT_EQ(folderNames(dir / "update"), Names{"update.txt"});
    EXPECT_TRUE(fs::exists(dir / "expired.bku"));
    EXPECT_EQ(started, Names{});

    publishManifest({});
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(log(), (Lines{Start, Start, Check, Unverified, Cleanup, EmptyUpdate, StartKiosk}));
    EXPECT_FALSE(fs::exists(dir / "expired.bku"));
    EXPECT_EQ(started, Names{"tesmora"});
    EXPECT_EQ(exitCodes, (std::vector<int>{0, 0}));
}

} // namespace
