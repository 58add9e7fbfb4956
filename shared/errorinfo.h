#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// The outcome of a step that can fail, carried as the error number and description that the log
// lines show. Number 0 means success.
struct [[nodiscard]] ErrorInfo
{
    int number = 0;
    std::string description;

    bool ok() const { return number == 0; }
    bool failed() const { return number != 0; }
};

// The error numbers that log lines carry.
namespace ErrorNumber {
constexpr int InvalidArgument = 5;
constexpr int Overflow = 6;
constexpr int UserInterrupt = 18;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int DiskFull = 61;
constexpr int PermissionDenied = 70;
constexpr int FileAccess = 75;
constexpr int PathNotFound = 76;
// Errors a routine raises itself: the user-error base plus 1000.
constexpr int UserError = -2147220504;
} // namespace ErrorNumber

// "(" + number + ") " + description, as log lines show an error after their own words.
std::string errorText(const ErrorInfo &error);

// One of the numbers above with its standard description.
ErrorInfo errorFor(int number);

// Maps an operating-system error to the number and description that go into log lines. A missing
// file whose folder is missing as well is "Path not found", as it is where the names came from.
ErrorInfo errorFromSystem(const std::error_code &code, const std::filesystem::path &path = {});

// errno of the last failed call.
ErrorInfo errorFromErrno(int err, const std::filesystem::path &path = {});
