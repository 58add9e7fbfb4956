#include "errorinfo.h"

std::string errorText(const ErrorInfo &error)
{
    return "(" + std::to_string(error.number) + ") " + error.description;
}

ErrorInfo errorFor(int number)
{
    switch (number) {
    case ErrorNumber::InvalidArgument:
        return {number, "Invalid procedure call or argument"};
    case ErrorNumber::Overflow:
        return {number, "Overflow"};
    case ErrorNumber::UserInterrupt:
        return {number, "User interrupt occurred"};
    case ErrorNumber::TypeMismatch:
        return {number, "Type mismatch"};
    case ErrorNumber::FileNotFound:
        return {number, "File not found"};
    case ErrorNumber::DiskFull:
        return {number, "Disk full"};
    case ErrorNumber::PermissionDenied:
        return {number, "Permission denied"};
    case ErrorNumber::PathNotFound:
        return {number, "Path not found"};
    default:
        return {ErrorNumber::FileAccess, "Path/File access error"};
    }
}

static bool folderMissing(const std::filesystem::path &path)
{
    const std::filesystem::path parent = path.parent_path();
    if (parent.empty())
        return false;
    std::error_code ec;
    return !std::filesystem::is_directory(parent, ec);
}

ErrorInfo errorFromSystem(const std::error_code &code, const std::filesystem::path &path)
{
    using std::errc;
    if (!code)
        return {};
    // Comparing with std::errc goes through the category's portable conditions, so the same
    // table serves errno values and the codes of other systems.
    if (code == errc::no_such_file_or_directory)
        return errorFor(folderMissing(path) ? ErrorNumber::PathNotFound : ErrorNumber::FileNotFound);
    if (code == errc::not_a_directory)
        return errorFor(ErrorNumber::PathNotFound);
    if (code == errc::no_space_on_device || code == errc::file_too_large)
        return errorFor(ErrorNumber::DiskFull);
    if (code == errc::permission_denied || code == errc::operation_not_permitted || code == errc::read_only_file_system)
        return errorFor(ErrorNumber::PermissionDenied);
    if (code == errc::invalid_argument)
        return errorFor(ErrorNumber::InvalidArgument);
    if (code == errc::value_too_large || code == errc::result_out_of_range)
        return errorFor(ErrorNumber::Overflow);
    return errorFor(ErrorNumber::FileAccess);
}

ErrorInfo errorFromErrno(int err, const std::filesystem::path &path)
{
    return errorFromSystem(std::error_code(err, std::generic_category()), path);
}
