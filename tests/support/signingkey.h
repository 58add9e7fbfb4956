#pragma once

#include <filesystem>
#include <string>

// A key pair made by the real minisign without a password, as name.pub and name.sec in folder
// (minisign's output in folder/output.txt); the public key line that public_key takes, or empty
// when minisign failed.
std::string makeMinisignKey(const std::filesystem::path &folder, const std::string &name);
