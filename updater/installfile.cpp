#include "installfile.h"

#include <string>

namespace fs = std::filesystem;

namespace {

ErrorInfo missingFile(const fs::path &path)
{
    return errorFromSystem(std::make_error_code(std::errc::no_such_file_or_directory), path);
}

fs::perms withExecuteBits(fs::perms bits)
{
    bits |= fs::perms::owner_exec;
    if ((bits & fs::perms::group_read) != fs::perms::none)
        bits |= fs::perms::group_exec;
    if ((bits & fs::perms::others_read) != fs::perms::none)
        bits |= fs::perms::others_exec;
    return bits;
}

// Copies source to a new hidden name beside target, with the source's permission bits, and
// makes the copy reach the disk; on failure nothing is left behind.
ErrorInfo copyBeside(const fs::path &source, const fs::path &target, std::string_view purpose, fs::path &temp)
{
    for (int attempt = 0;; ++attempt) {
        temp = besideName(target, purpose, attempt);
        std::error_code ec;
        if (fs::exists(temp, ec))
            continue;
        if (const ErrorInfo e = copyIntoNewFile(source, temp); e.failed())
            return e;
        const fs::perms bits = fs::status(source, ec).permissions();
        if (!ec)
            fs::permissions(temp, bits, fs::perm_options::replace, ec);
        if (!ec)
            return {};
        std::error_code ignored; // the failure to report is the one above
        fs::remove(temp, ignored);
        return errorFromSystem(ec, target);
    }
}

bool crossesFileSystems(const std::error_code &ec)
{
    return ec == std::errc::cross_device_link || ec == std::errc::operation_not_permitted
        || ec == std::errc::operation_not_supported || ec == std::errc::function_not_supported;
}

} // namespace

ErrorInfo copyToNewFile(const fs::path &source, const fs::path &target)
{
    if (!ordinaryFileExists(source))
        return missingFile(source);
    std::error_code ec;
    if (fs::exists(target, ec))
        return errorFromSystem(std::make_error_code(std::errc::file_exists), target);

    // A hard link appears whole at once and costs no copy; unlike a rename it never replaces a
    // file that appeared meanwhile.
    // A link to a link would keep no content of its own.
    if (!fs::is_symlink(source, ec)) {
        fs::create_hard_link(source, target, ec);
        if (!ec || !crossesFileSystems(ec))
            return errorFromSystem(ec, target);
    }

    // Copied under a temporary name first: a copy cut short by a crash must never pass for a
    // whole one.
    fs::path temp;
    if (const ErrorInfo e = copyBeside(source, target, "copy", temp); e.failed())
        return e;
    fs::create_hard_link(temp, target, ec);
    if (ec && crossesFileSystems(ec) && !fs::exists(target))
        fs::rename(temp, target, ec); // a file system without hard links
    std::error_code ignored;
    fs::remove(temp, ignored);
    return errorFromSystem(ec, target);
}

ErrorInfo replaceWithCopy(const fs::path &source, const fs::path &target)
{
    fs::path temp;
    if (const ErrorInfo e = copyBeside(source, target, "install", temp); e.failed())
        return e;
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return errorFromSystem(ec, target);
    }
    return {};
}

ErrorInfo installFile(const fs::path &source, const fs::path &target, bool executable)
{
    if (!ordinaryFileExists(source))
        return missingFile(source);

    std::error_code ec;
    fs::perms bits = fs::status(ordinaryFileExists(target) ? target : source, ec).permissions();
    if (ec)
        return errorFromSystem(ec, target);
    if (executable)
        bits = withExecuteBits(bits);

    fs::permissions(source, bits, fs::perm_options::replace, ec);
    if (ec)
        return errorFromSystem(ec, source);
    fs::rename(source, target, ec);
    if (!ec)
        return {};
    if (ec != std::errc::cross_device_link)
        return errorFromSystem(ec, target);
    return replaceWithCopy(source, target);
}
