// The update run over a network that is not a plain, lasting link: proxies, unchanged files,
// transfers that break off. In this process, against real servers on 127.0.0.1.

#include "httpproxy.h"
#include "process.h"
#include "runfixture.h"
#include "signingkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>

namespace {

namespace fs = std::filesystem;
using namespace RunLines;
using Lines = std::vector<std::string>;

// The lines of the log that start so, in order.
Lines linesFrom(const Lines &lines, const std::string &start)
{
    Lines found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string &line) { return line.starts_with(start); });
    return found;
}

// Publishes the files' set as the operator does, signed by a fresh key, and returns the line
// public_key takes. The files themselves are the caller's to serve.
std::string publishSigned(TestHttpServer &server, const TempFolder &desk,
                          const std::map<std::string, std::string> &files)
{
    const std::string key = makeMinisignKey(desk.path(), "key");
    fs::create_directory(desk / "set");
    for (const auto &[name, content] : files)
        writeFile(desk / "set" / name, content);
    if (key.empty() || runProgram(PUBLISH_COMMAND, {"-s", "key.sec", "set"}, desk.path()) != 0)
        return {};
    for (const std::string name : {"update.txt", "update.sha256", "update.sha256.minisig"})
        server.serve("/" + name, readFile(desk / "set" / name));
    return key;
}

TEST_F(Run, WithAProxySetEveryRequestGoesThroughItLoggedInAndThePasswordIsWrittenNowhere)
{
    const TestHttpProxy proxy("kiosk", "s3cret!");
    settings("proxy=" + proxy.address() + "\r\nproxy_user=kiosk\r\nproxy_password=s3cret!\r\n");
    publishManifest({"a", "b"});
    publish("a", "new a");
    publish("b", "new b");

    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(readFile(dir / "b"), "new b");
    std::vector<std::string> asked;
    for (const auto &request : server.requests())
        asked.push_back(request.target);
    EXPECT_EQ(asked, (Names{"/update.txt", "/a", "/b"}));
    EXPECT_EQ(proxy.forwarded(),
              (Names{server.baseUrl() + "update.txt", server.baseUrl() + "a", server.baseUrl() + "b"}));
    EXPECT_GE(proxy.loginsAsked(), 1u) << "the proxy asked for the log-in it then got";
    for (const std::string &line : log())
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;

    // Without proxy, the session's http_proxy is taken, as ever.
    settings("proxy_user=kiosk\r\nproxy_password=s3cret!\r\n");
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    ::setenv("http_proxy", proxy.address().c_str(), 1);
    EXPECT_EQ(run(), RunEnd::Finished);
    ::unsetenv("http_proxy");
    EXPECT_EQ(proxy.forwarded().size(), 6u);
}

// A verified set run a second time: only the set's own three files are fetched, nothing is
// backed up or replaced, and the running kiosk is left alone.
TEST_F(Run, AVerifiedSetAlreadyInstalledIsNotFetchedAgainAndTheKioskKeepsRunning)
{
    TempFolder desk;
    const std::string key = publishSigned(server, desk, {{"tesmora", "new kiosk"}, {"page.html", "new page"}});
    ASSERT_FALSE(key.empty()) << readFile(desk / "output.txt");
    publish("tesmora", "new kiosk");
    publish("page.html", "new page");
    settings("public_key=" + key + "\r\n");
    writeFile(dir / "tesmora", "old kiosk");
    writeFile(dir / "page.html", "new page"); // already what the set brings
    onWait = [this] { fs::remove(dir / "tesmora.lck"); }; // the kiosk quits when asked

    kioskRunning();
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(readFile(dir / "tesmora"), "new kiosk");
    EXPECT_EQ(linesFrom(log(), "File "), Lines{"File page.html invariato"});
    EXPECT_EQ(server.requestCount("/page.html"), 0u);
    const size_t backups = folderNames(dir / "backup").size();

    forgetLog();
    const std::vector<TestHttpServer::Request> before = server.requests();
    kioskRunning();
    waits = 0;
    EXPECT_EQ(run(), RunEnd::Finished);
    std::vector<std::string> asked;
    for (size_t i = before.size(); i < server.requests().size(); ++i)
        asked.push_back(server.requests()[i].path);
    EXPECT_EQ(asked, (Names{"/update.txt", "/update.sha256", "/update.sha256.minisig"}));
    const Lines lines = log();
    EXPECT_EQ(linesFrom(lines, "File "), (Lines{"File page.html invariato", "File tesmora invariato"}));
    EXPECT_EQ(linesFrom(lines, "Download file "),
              (Lines{Start, "Download file update.sha256", "Download file update.sha256.minisig"}));
    EXPECT_EQ(linesFrom(lines, "Stop servizio"), Lines{});
    EXPECT_EQ(linesFrom(lines, "Backup file"), Lines{});
    EXPECT_EQ(waits, 0) << "the kiosk was not asked to quit";
    EXPECT_FALSE(fs::exists(dir / "Shutdown.txt"));
    EXPECT_EQ(folderNames(dir / "backup").size(), backups);
    EXPECT_EQ(readFile(dir / "tesmora"), "new kiosk");
}

// A transfer that breaks off half-way is taken up where it stopped by the next run, as long as
// the file is the same; a server that then sends it whole is taken whole. Either way the file
// installed has the signed hash.
TEST_F(Run, ADownloadBrokenOffIsResumedWhereItStoppedAndTakenWholeWhenTheServerSendsItWhole)
{
    const std::string big = arbitraryBytes(20 << 20, 7);
    const size_t half = 10 << 20;
    TempFolder desk;
    const std::string key = publishSigned(server, desk, {{"big.bin", big}});
    ASSERT_FALSE(key.empty()) << readFile(desk / "output.txt");
    settings("public_key=" + key + "\r\n");
    const auto requestsOfBig = [this] {
        std::vector<TestHttpServer::Request> found;
        for (const auto &request : server.requests())
            if (request.path == "/big.bin")
                found.push_back(request);
        return found;
    };

    server.serveRanges("/big.bin", big, "\"v1\"", false, half);
    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_FALSE(fs::exists(dir / "big.bin"));
    server.serveRanges("/big.bin", big, "\"v1\"");
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(readFile(dir / "big.bin"), big);
    const auto asked = requestsOfBig();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].range, "");
    EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(asked[1].ifRange, "\"v1\"");
    EXPECT_EQ(linesFrom(log(), "Download ripreso"), Lines{"Download ripreso dal byte " + std::to_string(half)});

    fs::remove(dir / "big.bin");
    forgetLog();
    server.serveRanges("/big.bin", big, "\"v1\"", false, half);
    EXPECT_EQ(run(), RunEnd::Failed);
    server.serveRanges("/big.bin", big, "\"v1\"", true);
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(readFile(dir / "big.bin"), big);
    EXPECT_EQ(requestsOfBig().back().range, "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(linesFrom(log(), "Download ripreso"), Lines{});
    EXPECT_EQ(folderNames(dir / "update"), Names{});
}

} // namespace
