#include "hashworker.h"
#include "httpserver.h"
#include "logreading.h"
#include "moddownload.h"
#include "monthlylog.h"
#include "nginxserver.h"
#include "tempfolder.h"
#include "testcertificate.h"
#include "testclock.h"
#include "updatesettings.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <set>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using modDownload::DownloadFile;

const std::string OpenFailedLine = "Error download (-2147220504) Errore in fase di chiamata InternetOpen";

// The routine in this process, logging into a temporary program folder, against a real server.
class Download : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(dir / "update");
        options.userAgent = "TesmoraUpdate";
        options.log = [this](const std::string &line) { updaterLog.write(line); };
        options.onBlock = [this] { ++blocks; };
    }

    std::string local(const std::string &name) const { return (dir / "update" / name).string(); }
    std::string url(const std::string &path) const { return server.baseUrl() + path; }
    Lines log() const { return updaterLogMessages(dir.path()); }
    ErrorInfo get(const std::string &address, const std::string &localPath)
    {
        return DownloadFile(address, localPath, options).error;
    }
    ErrorInfo fetch(const std::string &name) { return get(url(name), local(name)); }
    std::set<std::string> updateFolder() const
    {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir / "update"))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempFolder dir;
    TestClock clock;
    MonthlyLog updaterLog{LogStyle::Updater, dir.path(), "TesmoraUpdate", clock};
    modDownload::Options options;
    TestHttpServer server;
    int blocks = 0;
};

TEST_F(Download, ZeroByteBodyGivesAnEmptyFileAndNoLogLine)
{
    server.serve("/empty", "");
    EXPECT_TRUE(fetch("empty").ok());
    ASSERT_TRUE(fs::exists(local("empty")));
    EXPECT_EQ(fs::file_size(local("empty")), 0u);
    EXPECT_EQ(blocks, 0);
    EXPECT_EQ(log(), Lines{});
}

TEST_F(Download, ExactlyOneBlock)
{
    const std::string body = arbitraryBytes(4096, 1);
    server.serve("/four", body);
    EXPECT_TRUE(fetch("four").ok());
    EXPECT_EQ(readFile(local("four")), body);
    EXPECT_GE(blocks, 1);
    EXPECT_EQ(updateFolder(), std::set<std::string>{"four"});
}

TEST_F(Download, OneMebibyteOfArbitraryBytesArrivesUnchanged)
{
    const std::string body = arbitraryBytes(1 << 20, 2);
    server.serve("/big.bin", body);
    EXPECT_TRUE(fetch("big.bin").ok());
    EXPECT_EQ(readFile(local("big.bin")), body);
    EXPECT_GE(blocks, 2); // the window gets its turns while the body arrives
    EXPECT_EQ(log(), Lines{});
}

TEST_F(Download, TheUserAgentIsTheExecutableName)
{
    server.serve("/a", "x");
    EXPECT_TRUE(fetch("a").ok());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].userAgent, "TesmoraUpdate");
}

TEST_F(Download, ALongerEarlierFileIsReplacedWhole)
{
    writeFile(local("a"), std::string(10000, 'o'));
    server.serve("/a", "new");
    EXPECT_TRUE(fetch("a").ok());
    EXPECT_EQ(readFile(local("a")), "new");
}

TEST_F(Download, RedirectsAreFollowed)
{
    server.serve("/real", "moved content");
    server.serveRedirect("/old", "/real");
    EXPECT_TRUE(fetch("old").ok());
    EXPECT_EQ(readFile(local("old")), "moved content");
}

TEST_F(Download, AnAddressThatCannotBeOpenedLeavesNoFile)
{
    writeFile(local("a"), "left by an earlier run");
    const RefusingPort nobody;
    const ErrorInfo error = get(nobody.baseUrl() + "a", local("a"));
    EXPECT_EQ(error.number, -2147220504);
    EXPECT_EQ(log(), Lines{OpenFailedLine});
    EXPECT_EQ(updateFolder(), std::set<std::string>{});
}

TEST_F(Download, ABareNameIsNotAnAddress)
{
    EXPECT_TRUE(get("update.txt", local("update.txt")).failed());
    EXPECT_TRUE(get("ftp://127.0.0.1/update.txt", local("update.txt")).failed());
    EXPECT_EQ(log(), (Lines{OpenFailedLine, OpenFailedLine}));
    EXPECT_EQ(updateFolder(), std::set<std::string>{});
}

// A server with a certificate of its own is refused as unknown, trusted through ca_file alone,
// and refused again when its key is not the one pinned; each refusal says why, in libcurl's words.
// A server that asks for a client certificate gets client_certificate.
TEST_F(Download, APrivateServerIsTrustedOnlyThroughCaFileAndItsPinnedKey)
{
    TempFolder keys;
    const TestCertificate own = makeTestCertificate(keys.path(), "own");
    const TestCertificate other = makeTestCertificate(keys.path(), "other");
    writeFile(keys / "a", "from the private server");
    NginxServer nginx(keys.path(), {}, NginxServer::Tls{own.certificate, own.key});
    const auto attempt = [&](const std::string &caFile, const std::string &pin) {
        options.connection.caFile = caFile;
        options.connection.pinnedPublicKey = pin;
        const ErrorInfo e = get(nginx.baseUrl() + "a", local("a"));
        return e.ok() ? readFile(local("a")) : e.description;
    };
    const std::string refused = "Connessione TLS rifiutata: ";

    EXPECT_EQ(attempt({}, {}), refused + "SSL certificate problem: self-signed certificate");
    EXPECT_EQ(attempt(own.certificate.string(), {}), "from the private server");
    EXPECT_EQ(attempt(own.certificate.string(), own.pin), "from the private server");
    EXPECT_EQ(attempt(own.certificate.string(), other.pin),
              refused + "SSL: public key does not match pinned public key");
    EXPECT_EQ(attempt(other.certificate.string(), {}), refused + "SSL certificate problem: self-signed certificate");
    // Plain HTTP where TLS was asked for: no handshake at all.
    server.serve("/a", "plain");
    options.connection = {};
    const ErrorInfo plain = get("https://127.0.0.1:" + std::to_string(server.port()) + "/a", local("a"));
    EXPECT_TRUE(plain.description.starts_with(refused)) << plain.description;

    // A server that wants to know its clients.
    const TestCertificate client = makeTestCertificate(keys.path(), "client");
    NginxServer asking(keys.path(),
                       "    ssl_client_certificate " + client.certificate.string() + ";\n    ssl_verify_client on;\n",
                       NginxServer::Tls{own.certificate, own.key});
    options.connection.caFile = own.certificate.string();
    EXPECT_EQ(get(asking.baseUrl() + "a", local("a")).description, "Risposta del server: 400");
    options.connection.clientCertificate = client.certificate.string();
    options.connection.clientKey = client.key.string();
    EXPECT_TRUE(get(asking.baseUrl() + "a", local("a")).ok());
    fs::remove(local("a"));

    const Lines lines = log();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Error download (-2147220504) " + refused + "SSL certificate problem: self-signed certificate");
    EXPECT_FALSE(fs::exists(local("a")));
}

TEST(ConnectionSettings, AreReadWithPathsInTheProgramFolderAndABadRateRefusesTheRun)
{
    TempFolder dir;
    clsFileIni ini;
    ini.setNomeFile((dir / "TesmoraUpdate.ini").string());
    const auto read = [&](const std::string &lines) {
        writeFile(dir / "TesmoraUpdate.ini", "[data]\r\n" + lines);
        return readConnectionSettings(ini, dir.path());
    };
    const Result<modDownload::Connection> none = read("");
    ASSERT_TRUE(none.ok());
    EXPECT_EQ(none.value.maxKiBPerSecond, 0u);
    EXPECT_TRUE(none.value.proxy.empty() && none.value.caFile.empty() && none.value.pinnedPublicKey.empty()
                && none.value.clientCertificate.empty() && none.value.clientKey.empty());

    const Result<modDownload::Connection> all =
        read("max_download_rate= 2048 \r\nproxy=http://proxy.lan:3128\r\nproxy_user=kiosk\r\nproxy_password=s3cr=t\r\n"
             "ca_file=ca.pem\r\npinned_public_key=sha256//AAAA\r\nclient_certificate=/etc/tesmora/me.pem\r\n"
             "client_key=me.key\r\n");
    ASSERT_TRUE(all.ok()) << all.error.description;
    EXPECT_EQ(all.value.maxKiBPerSecond, 2048u);
    EXPECT_EQ(all.value.proxy, "http://proxy.lan:3128");
    EXPECT_EQ(all.value.proxyUser, "kiosk");
    EXPECT_EQ(all.value.proxyPassword, "s3cr=t");
    EXPECT_EQ(all.value.caFile, (dir / "ca.pem").string());
    EXPECT_EQ(all.value.pinnedPublicKey, "sha256//AAAA");
    EXPECT_EQ(all.value.clientCertificate, "/etc/tesmora/me.pem");
    EXPECT_EQ(all.value.clientKey, (dir / "me.key").string());
    EXPECT_EQ(read("pinned_public_key=server.pub\r\n").value.pinnedPublicKey, (dir / "server.pub").string());

    for (const std::string bad : {"2 MB", "-5", "1.5", "99999999999999999"}) {
        const Result<modDownload::Connection> refused = read("max_download_rate=" + bad + "\r\n");
        EXPECT_EQ(refused.error.description, "Valore non valido per max_download_rate: '" + bad + "', nessun download");
    }
}

TEST_F(Download, EmptyArgumentsTouchNothing)
{
    writeFile(local("a"), "kept");
    EXPECT_TRUE(get("", local("a")).failed());
    EXPECT_TRUE(get(url("a"), "").failed());
    EXPECT_EQ(log(),
              (Lines{"Error download (5) Invalid procedure call or argument",
                     "Error download (5) Invalid procedure call or argument"}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Download, ServerErrorStatusIsAFailureNotAFile)
{
    writeFile(local("missing"), "stale copy");
    server.serve("/broken", "<html>oops</html>", 500, "text/html");
    const ErrorInfo notFound = fetch("missing");
    EXPECT_EQ(notFound.number, -2147220504);
    EXPECT_EQ(notFound.description, "Risposta del server: 404");
    EXPECT_TRUE(fetch("broken").failed());
    EXPECT_EQ(log(),
              (Lines{"Error download (-2147220504) Risposta del server: 404",
                     "Error download (-2147220504) Risposta del server: 500"}));
    EXPECT_EQ(updateFolder(), std::set<std::string>{});
}

TEST_F(Download, ABrokenOffTransferLeavesNoFile)
{
    writeFile(local("part"), "stale copy");
    server.serveBrokenOff("/part", arbitraryBytes(100000, 3), 30000);
    const ErrorInfo error = fetch("part");
    EXPECT_EQ(error.number, -2147220504);
    EXPECT_EQ(error.description.rfind("Trasferimento interrotto: ", 0), 0u) << error.description;
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0], "Error download (-2147220504) " + error.description);
    EXPECT_GE(blocks, 1);
    EXPECT_EQ(updateFolder(), std::set<std::string>{});
}

TEST_F(Download, AMissingLocalFolderIsPathNotFound)
{
    server.serve("/a", "x");
    EXPECT_TRUE(get(url("a"), (dir / "nowhere" / "a").string()).failed());
    EXPECT_EQ(log(), Lines{"Error download (76) Path not found"});
}

TEST_F(Download, BlanksInTheNameTravelEncoded)
{
    server.serve("/name with blanks", "found");
    EXPECT_TRUE(fetch("name with blanks").ok());
    EXPECT_EQ(readFile(local("name with blanks")), "found");
}

TEST_F(Download, AnAddressAlreadyEncodedIsNotEncodedAgain)
{
    server.serve("/my folder/a", "found");
    EXPECT_TRUE(get(url("my%20folder/a"), local("a")).ok());
    EXPECT_EQ(readFile(local("a")), "found");
}

} // namespace

namespace {

TEST_F(Download, WhatIsKeptIsTheFileNotTheFormItTravelledIn)
{
    const std::string body = arbitraryBytes(20000, 8) + std::string(20000, 'z');
    // qCompress gives a zlib stream after a four-byte length: what "deflate" names.
    const QByteArray packed = qCompress(QByteArray::fromStdString(body)).mid(4);
    server.serve("/packed", packed.toStdString(), 200, "application/octet-stream", {{"Content-Encoding", "deflate"}});
    std::string seen;
    options.onData = [&seen](std::string_view bytes) { seen += bytes; };
    EXPECT_TRUE(fetch("packed").ok());
    EXPECT_EQ(readFile(local("packed")), body);
    EXPECT_EQ(seen, body) << "what a hash is computed over is what is kept";

    server.serve("/odd", "whatever this is", 200, "application/octet-stream", {{"Content-Encoding", "x-unheard-of"}});
    const ErrorInfo odd = fetch("odd");
    EXPECT_EQ(odd.number, -2147220504);
    EXPECT_EQ(odd.description.rfind("Trasferimento interrotto: ", 0), 0u) << odd.description;
    EXPECT_FALSE(fs::exists(local("odd")));
}

TEST_F(Download, ALongBodyIsCutAtTheLimitAndASlowOneAtTheTimeOut)
{
    server.serve("/long", std::string(10000, 'l'));
    options.maxBytes = 4000;
    const Result<modDownload::Download> cut = DownloadFile(url("long"), local("long"), options);
    EXPECT_TRUE(cut.error.ok());
    EXPECT_TRUE(cut.value.cutShort);
    EXPECT_EQ(cut.value.bytes, 4000u);
    EXPECT_EQ(readFile(local("long")), std::string(4000, 'l'));

    options.maxBytes = 0;
    options.timeoutSeconds = 1;
    server.serveSlowly("/slow", std::string(100, 's'), 1, std::chrono::milliseconds(100));
    const ErrorInfo slow = fetch("slow");
    EXPECT_EQ(slow.description.rfind("Trasferimento interrotto: ", 0), 0u) << slow.description;
    EXPECT_FALSE(fs::exists(local("slow")));
    server.stop();
}

TEST_F(Download, AStopEndsTheTransferAtTheNextBlockQuietlyAndLeavesNoFile)
{
    std::stop_source stop;
    options.stop = stop.get_token();
    options.onBlock = [&] {
        if (++blocks == 2)
            stop.request_stop();
    };
    writeFile(local("slow"), "left by an earlier run");
    server.serveSlowly("/slow", std::string(100, 's'), 10, std::chrono::milliseconds(50));
    const Result<modDownload::Download> stopped = DownloadFile(url("slow"), local("slow"), options);
    EXPECT_EQ(stopped.error.number, ErrorNumber::UserInterrupt);
    EXPECT_EQ(blocks, 2);
    EXPECT_EQ(stopped.value.bytes, 10u) << "the block that brought the stop is not kept";
    EXPECT_EQ(updateFolder(), std::set<std::string>{});

    // Asked for while no data comes: the transfer does not wait for a stall's time-out.
    server.serveNoAnswer("/silent");
    EXPECT_EQ(fetch("silent").number, ErrorNumber::UserInterrupt);
    EXPECT_EQ(log(), Lines{}) << "whoever asked for the stop knows";
    server.stop();
}

} // namespace

namespace {

TEST(HashWorker, GivesTheDigestOfWhatWasAddedWhateverTheBlocksAndOneFileAfterAnother)
{
    HashWorker worker;
    const std::string first = arbitraryBytes(20 * 1024 * 1024, 9); // more than it holds waiting
    for (size_t at = 0, block = 1; at < first.size(); at += block, block = block * 3 % 70001 + 1)
        worker.add(std::string_view(first).substr(at, block));
    Sha256Stream direct;
    direct.add(first);
    EXPECT_EQ(worker.finish(), direct.finish());
    worker.add("abc");
    EXPECT_EQ(worker.finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(worker.finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

} // namespace
