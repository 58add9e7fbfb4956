#pragma once

#include <filesystem>
#include <string>

// A self-signed server certificate for 127.0.0.1 and localhost, made by the openssl command.
struct TestCertificate
{
    std::filesystem::path certificate; // PEM
    std::filesystem::path key; // PEM, unencrypted
    std::string fingerprint; // SHA-256 as openssl prints it: "AB:12:..."
    std::string pin; // libcurl's pinned public key form: "sha256//<base64>"
};

// Made as name.pem and name.key in folder (openssl's output in folder/output.txt); throws when
// openssl fails.
TestCertificate makeTestCertificate(const std::filesystem::path &folder, const std::string &name);
