#include "installfile.h"

#include "fileops.h"
#include "platform.h"
#include "result.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

namespace fs = std::filesystem;

namespace {

struct FileCloser
{
    void operator()(std::FILE *f) const { std::fclose(f); }
};

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

bool crossesFileSystems(const std::error_code &ec)
{
    return ec == std::errc::cross_device_link || ec == std::errc::operation_not_permitted
        || ec == std::errc::operation_not_supported || ec == std::errc::function_not_supported;
}

// Copies source into a new hidden file beside target, with source's permission bits, synced; the
// hidden file's path. A copy cut short by a crash thus never passes for a whole one, and on
// failure nothing is left behind.
Result<fs::path> copyBeside(const fs::path &source, const fs::path &target, std::string_view purpose)
{
    using Failure = Result<fs::path>;
    errno = 0;
    // A link in a folder others may write could lead the copy to any file this program can read.
    const std::unique_ptr<std::FILE, FileCloser> in(platform::openFileNoFollow(source));
    if (!in)
        return Failure::failure(errorFromErrno(errno, source));
    const Result<NewFile> created = createFileBeside(target, purpose);
    if (created.failed())
        return Failure::failure(created.error);
    const fs::path &temp = created.value.path;

    // Not std::filesystem::copy_file: it reports a full disk as an input/output error.
    static constexpr size_t ChunkSize = 64 * 1024;
    const std::unique_ptr<char[]> chunk(new char[ChunkSize]);
    ErrorInfo failure;
    errno = 0;
    for (size_t n; failure.ok() && (n = std::fread(chunk.get(), 1, ChunkSize, in.get())) > 0;) {
        if (std::fwrite(chunk.get(), 1, n, created.value.file) != n)
            failure = errorFromErrno(errno ? errno : EIO, temp);
    }
    if (failure.ok() && std::ferror(in.get()))
        failure = errorFromErrno(errno ? errno : EIO, temp);
    if (failure.ok())
        failure = platform::syncFile(created.value.file);
    if (std::fclose(created.value.file) != 0 && failure.ok())
        failure = errorFromErrno(errno ? errno : EIO, temp);
    std::error_code ec;
    if (failure.ok()) {
        const fs::perms bits = fs::status(source, ec).permissions();
        if (!ec)
            fs::permissions(temp, bits, fs::perm_options::replace, ec);
        failure = errorFromSystem(ec, target);
    }
    if (failure.ok())
        return {temp, {}};
    std::error_code ignored; // the failure to report is the one above
    fs::remove(temp, ignored);
    return Failure::failure(failure);
}

} // namespace

ErrorInfo copyFile(const fs::path &source, const fs::path &target, CopyPlacement placement)
{
    const bool newName = placement == CopyPlacement::NewName;
    std::error_code ec;
    if (newName) {
        if (!ordinaryFileExists(source))
            return missingFile(source);
        if (fs::exists(target, ec))
            return errorFromSystem(std::make_error_code(std::errc::file_exists), target);
        // A hard link appears whole at once and costs no copy; unlike a rename it never replaces a
        // file that appeared meanwhile. A link to a link would keep no content of its own.
        if (!fs::is_symlink(source, ec)) {
            fs::create_hard_link(source, target, ec);
            if (!ec || !crossesFileSystems(ec))
                return errorFromSystem(ec, target);
        }
    }

    const Result<fs::path> temp = copyBeside(source, target, newName ? "copy" : "install");
    if (temp.failed())
        return temp.error;
    if (newName) {
        fs::create_hard_link(temp.value, target, ec);
        if (ec && crossesFileSystems(ec) && !fs::exists(target))
            fs::rename(temp.value, target, ec); // a file system without hard links
    } else {
        fs::rename(temp.value, target, ec);
    }
    if (newName || ec) {
        std::error_code ignored; // the outcome is the placing's, above
        fs::remove(temp.value, ignored);
    }
    return errorFromSystem(ec, target);
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
    return copyFile(source, target, CopyPlacement::Replace);
}
