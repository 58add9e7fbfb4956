#include "testcertificate.h"

#include "process.h"
#include "tempfolder.h"

#include <stdexcept>

namespace {

std::string shell(const std::filesystem::path &folder, const std::string &command)
{
    if (runProgram("/bin/sh", {"-c", command + " > result.txt"}, folder) != 0)
        throw std::runtime_error("openssl failed: " + command + ": " + readFile(folder / "output.txt"));
    std::string text = readFile(folder / "result.txt");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

TestCertificate makeTestCertificate(const std::filesystem::path &folder, const std::string &name)
{
    TestCertificate made{folder / (name + ".pem"), folder / (name + ".key"), {}, {}};
    // An EC key: made in a moment, where RSA takes a noticeable part of a test.
    shell(folder,
          "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1"
          " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout "
              + made.key.string() + " -out " + made.certificate.string());
    const std::string printed =
        shell(folder, "openssl x509 -noout -fingerprint -sha256 -in " + made.certificate.string());
    made.fingerprint = printed.substr(printed.find('=') + 1);
    made.pin = "sha256//"
        + shell(folder,
                "openssl x509 -noout -pubkey -in " + made.certificate.string()
                    + " | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64");
    return made;
}
