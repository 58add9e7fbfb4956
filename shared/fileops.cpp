#include "fileops.h"

#include "platform.h"
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <memory>

bool ordinaryFileExists(const std::filesystem::path &path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

Result<std::vector<std::filesystem::path>> filesIn(const std::filesystem::path &folder)
{
    Result<std::vector<std::filesystem::path>> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError))
            files.value.push_back(it->path());
    }
    files.error = errorFromSystem(ec, folder);
    return files;
}

std::filesystem::path besideName(const std::filesystem::path &target, std::string_view purpose, int attempt)
{
    const std::string tail = "." + std::string(purpose) + "-" + std::to_string(attempt);
    const std::string name = target.filename().string();
    return target.parent_path() / ("." + cutToBytes(name, MaxNameBytes - 1 - tail.size()) + tail);
}

bool isBesideName(std::string_view name, std::string_view purpose)
{
    const size_t dash = name.rfind('-');
    if (name.size() < 2 || name.front() != '.' || dash == std::string_view::npos || dash + 1 == name.size()
        || name.find_first_not_of("0123456789", dash + 1) != std::string_view::npos)
        return false;
    const std::string_view stem = name.substr(0, dash);
    return stem.size() > purpose.size() + 2 && stem.ends_with(purpose) && stem[stem.size() - purpose.size() - 1] == '.';
}

void removeBesideFiles(const std::filesystem::path &folder, std::initializer_list<std::string_view> purposes)
{
    for (const auto &path : filesIn(folder).value) {
        const std::string name = path.filename().string();
        for (const std::string_view purpose : purposes) {
            if (isBesideName(name, purpose)) {
                std::error_code ignored; // what cannot go now goes at the next clean-up
                std::filesystem::remove(path, ignored);
                break;
            }
        }
    }
}

Result<NewFile> createFileBeside(const std::filesystem::path &target, std::string_view purpose)
{
    Result<NewFile> created;
    // Each name passed over is a file that really exists, so the tries end.
    for (int attempt = 0;; ++attempt) {
        created.value.path = besideName(target, purpose, attempt);
        errno = 0;
        // "x": exclusive creation, so a file that happens to have this name is never touched.
        created.value.file = platform::openFile(created.value.path, "wbx");
        if (created.value.file)
            return created;
        if (errno != EEXIST)
            break;
    }
    created.error = errorFromErrno(errno ? errno : EEXIST, created.value.path);
    return created;
}

FolderNames::FolderNames(const std::filesystem::path &folder)
{
    for (const auto &file : filesIn(folder).value) {
        const std::string name = file.filename().string();
        const auto [it, added] = m_byFolded.emplace(toLowerAscii(name), name);
        if (!added && name < it->second)
            it->second = name;
        m_exact.insert(name);
    }
}

std::string FolderNames::find(const std::string &name) const
{
    if (m_exact.contains(name))
        return name;
    const auto found = m_byFolded.find(toLowerAscii(name));
    return found == m_byFolded.end() ? std::string() : found->second;
}

std::filesystem::path findFileIgnoringCase(const std::filesystem::path &folder, const std::string &name)
{
    if (ordinaryFileExists(folder / name))
        return folder / name; // the usual case, without listing the folder
    const std::string found = FolderNames(folder).find(name);
    return found.empty() ? std::filesystem::path() : folder / found;
}

namespace {

struct FileCloser
{
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

ErrorInfo appendLine(const std::filesystem::path &path, std::string_view text)
{
    errno = 0;
    std::FILE *raw = platform::openFile(path, "ab");
    if (!raw)
        return errorFromErrno(errno, path);
    std::string line(text);
    line += "\r\n";
    const bool written = std::fwrite(line.data(), 1, line.size(), raw) == line.size();
    const int writeErr = errno;
    const bool closed = std::fclose(raw) == 0;
    if (!written || !closed)
        return errorFromErrno(writeErr ? writeErr : errno, path);
    return {};
}

ErrorInfo removeFileIfPresent(const std::filesystem::path &path)
{
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        return errorFromSystem(ec, path);
    return {};
}

ErrorInfo touchFile(const std::filesystem::path &path)
{
    std::error_code ec;
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now(), ec);
    return ec ? errorFromSystem(ec, path) : ErrorInfo{};
}

Result<std::uintmax_t> fileLength(const std::filesystem::path &path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec)
        return Result<std::uintmax_t>::failure(errorFromSystem(ec, path));
    if (!std::filesystem::is_regular_file(status))
        return Result<std::uintmax_t>::failure(errorFor(ErrorNumber::FileNotFound));
    const std::uintmax_t length = std::filesystem::file_size(path, ec);
    return {ec ? 0 : length, errorFromSystem(ec, path)};
}

Result<std::string> readWholeFile(const std::filesystem::path &path)
{
    return readFileUpTo(path, UINTMAX_MAX);
}

Result<std::string> readFileUpTo(const std::filesystem::path &path, std::uintmax_t maxBytes)
{
    using Read = Result<std::string>;
    errno = 0;
    FilePtr f(platform::openFile(path, "rb"));
    if (!f)
        return Read::failure(errorFromErrno(errno, path));
    Read read;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        read.value.append(buf, n);
        if (read.value.size() > maxBytes)
            return Read::failure(errorFor(ErrorNumber::Overflow));
    }
    if (std::ferror(f.get()))
        return Read::failure(errorFromErrno(errno ? errno : EIO, path));
    return read;
}

ErrorInfo replaceFileAtomically(const std::filesystem::path &target, std::string_view content, Durability durability)
{
    const bool durable = durability == Durability::UntilPowerCut;
    const Result<NewFile> created = createFileBeside(target, "write");
    if (created.failed())
        return created.error;
    const NewFile &temp = created.value;
    errno = 0;
    const bool written = std::fwrite(content.data(), 1, content.size(), temp.file) == content.size()
        && (durable ? platform::syncFile(temp.file).ok() : std::fflush(temp.file) == 0);
    const int writeErr = errno;
    const bool closed = std::fclose(temp.file) == 0;
    std::error_code ec;
    if (written && closed)
        std::filesystem::rename(temp.path, target, ec);
    if (written && closed && !ec) {
        // The content is in place either way; the rename reaches the disk at the latest with the
        // next sync of the folder.
        if (durable)
            (void)platform::syncPath(target.parent_path().empty() ? "." : target.parent_path());
        return {};
    }
    std::error_code ignored;
    std::filesystem::remove(temp.path, ignored);
    return ec ? errorFromSystem(ec, target) : errorFromErrno(writeErr ? writeErr : errno, target);
}
