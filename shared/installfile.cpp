#include "installfile.h"

#include "fileops.h"
#include "platform.h"

#include <cerrno>
#include <string>
#include <vector>

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

// Copies source to a new hidden name beside target; on failure nothing is left behind.
ErrorInfo copyBeside(const fs::path &source, const fs::path &target, std::string_view purpose, fs::path &temp)
{
    std::error_code ec;
    for (int attempt = 0;; ++attempt) {
        temp = besideName(target, purpose, attempt);
        if (fs::copy_file(source, temp, fs::copy_options::none, ec))
            return {};
        if (ec == std::errc::file_exists && attempt + 1 < MaxTemporaryNames)
            continue;
        if (ec != std::errc::file_exists) {
            std::error_code ignored;
            fs::remove(temp, ignored); // a copy that broke off half-way (disk full)
        }
        return errorFromSystem(ec, target);
    }
}

} // namespace

ErrorInfo copyToNewFile(const fs::path &source, const fs::path &target)
{
    if (!ordinaryFileExists(source))
        return missingFile(source);
    std::error_code ec;
    if (fs::exists(target, ec))
        return errorFromSystem(std::make_error_code(std::errc::file_exists), target);

    // Copied under a temporary name first: a copy cut short by a crash must never pass for a
    // whole backup.
    fs::path temp;
    if (const ErrorInfo e = copyBeside(source, target, "copy", temp); e.failed())
        return e;
    // A hard link, unlike a rename, never replaces a file that appeared meanwhile.
    fs::create_hard_link(temp, target, ec);
    if (ec && ec != std::errc::file_exists && !fs::exists(target))
        fs::rename(temp, target, ec); // a file system without hard links
    std::error_code ignored;
    fs::remove(temp, ignored);
    return ec ? errorFromSystem(ec, target) : ErrorInfo{};
}

ErrorInfo installFile(const fs::path &source, const fs::path &target, bool executable)
{
    if (!ordinaryFileExists(source))
        return missingFile(source);

    std::error_code ec;
    fs::perms bits = fs::perms::unknown;
    if (ordinaryFileExists(target)) {
        bits = fs::status(target, ec).permissions();
        if (ec)
            return errorFromSystem(ec, target);
    }

    fs::path temp;
    if (const ErrorInfo e = copyBeside(source, target, "install", temp); e.failed())
        return e;

    auto discard = [&temp](const std::error_code &failure, const fs::path &about) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return errorFromSystem(failure, about);
    };

    if (bits == fs::perms::unknown) {
        bits = fs::status(temp, ec).permissions();
        if (ec)
            return discard(ec, temp);
    }
    if (executable)
        bits = withExecuteBits(bits);
    fs::permissions(temp, bits, fs::perm_options::replace, ec);
    if (ec)
        return discard(ec, temp);
    fs::rename(temp, target, ec);
    if (ec)
        return discard(ec, target);
    return {};
}

namespace {

// ".<name>.install-<n>" or ".<name>.copy-<n>", as besideName makes them.
bool isLeftoverName(std::string_view name)
{
    const size_t dash = name.rfind('-');
    if (name.size() < 2 || name.front() != '.' || dash == std::string_view::npos || dash + 1 == name.size()
        || name.find_first_not_of("0123456789", dash + 1) != std::string_view::npos)
        return false;
    const std::string_view stem = name.substr(0, dash);
    for (const std::string_view purpose : {std::string_view(".install"), std::string_view(".copy")}) {
        if (stem.size() > purpose.size() + 1 && stem.ends_with(purpose))
            return true;
    }
    return false;
}

} // namespace

void removeInstallLeftovers(const fs::path &folder)
{
    std::error_code ec;
    for (const fs::path &path : filesIn(folder, ec)) {
        if (isLeftoverName(path.filename().string()))
            fs::remove(path, ec);
    }
}
