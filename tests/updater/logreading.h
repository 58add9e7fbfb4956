#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The messages of the updater's log files in a folder (every "<exe>yyyymm.log", oldest month
// first), each without its "dd/mm/yyyy hh:mm:ss - " stamp. A line without a well-formed stamp is
// returned whole, prefixed with "BAD STAMP: ", so that a check on it fails.
std::vector<std::string> updaterLogMessages(const std::filesystem::path &folder,
                                            const std::string &exeName = "TesmoraUpdate");
