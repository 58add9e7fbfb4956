#include "fileops.h"

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <memory>

bool ordinaryFileExists(const std::filesystem::path &path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path &folder, std::error_code &ec)
{
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError))
            files.push_back(it->path());
    }
    return files;
}

std::filesystem::path besideName(const std::filesystem::path &target, std::string_view purpose, int attempt)
{
    return target.parent_path()
        / ("." + target.filename().string() + "." + std::string(purpose) + "-" + std::to_string(attempt));
}

NewFile createFileBeside(const std::filesystem::path &target, std::string_view purpose)
{
    NewFile created;
    for (int attempt = 0; attempt < MaxTemporaryNames; ++attempt) {
        created.path = besideName(target, purpose, attempt);
        errno = 0;
        // "x": exclusive creation, so a file that happens to have this name is never touched.
        created.file = platform::openFile(created.path, "wbx");
        if (created.file)
            return created;
        if (errno != EEXIST)
            break;
    }
    created.error = errorFromErrno(errno ? errno : EEXIST, created.path);
    return created;
}

std::filesystem::path findFileIgnoringCase(const std::filesystem::path &folder, const std::string &name)
{
    const auto lower = [](std::string s) {
        for (char &c : s) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return s;
    };
    if (ordinaryFileExists(folder / name))
        return folder / name;
    const std::string wanted = lower(name);
    std::filesystem::path found;
    std::error_code ec;
    for (const auto &file : filesIn(folder, ec)) {
        const std::string candidate = file.filename().string();
        if (lower(candidate) == wanted && (found.empty() || candidate < found.filename().string()))
            found = file;
    }
    return found;
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

ErrorInfo fileLength(const std::filesystem::path &path, std::uintmax_t &length)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec)
        return errorFromSystem(ec, path);
    if (!std::filesystem::is_regular_file(status))
        return errorFor(ErrorNumber::FileNotFound);
    length = std::filesystem::file_size(path, ec);
    if (ec)
        return errorFromSystem(ec, path);
    return {};
}

ErrorInfo readWholeFile(const std::filesystem::path &path, std::string &content)
{
    return readFileUpTo(path, UINTMAX_MAX, content);
}

ErrorInfo readFileUpTo(const std::filesystem::path &path, std::uintmax_t maxBytes, std::string &content)
{
    content.clear();
    errno = 0;
    FilePtr f(platform::openFile(path, "rb"));
    if (!f)
        return errorFromErrno(errno, path);
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        content.append(buf, n);
        if (content.size() > maxBytes) {
            content.clear();
            return errorFor(ErrorNumber::Overflow);
        }
    }
    if (std::ferror(f.get()))
        return errorFromErrno(errno ? errno : EIO, path);
    return {};
}

ErrorInfo replaceFileAtomically(const std::filesystem::path &target, std::string_view content)
{
    NewFile temp = createFileBeside(target, "write");
    if (temp.error.failed())
        return temp.error;
    errno = 0;
    const bool written = std::fwrite(content.data(), 1, content.size(), temp.file) == content.size()
        && std::fflush(temp.file) == 0;
    const int writeErr = errno;
    const bool closed = std::fclose(temp.file) == 0;
    std::error_code ec;
    if (written && closed)
        std::filesystem::rename(temp.path, target, ec);
    if (written && closed && !ec)
        return {};
    std::error_code ignored;
    std::filesystem::remove(temp.path, ignored);
    return ec ? errorFromSystem(ec, target) : errorFromErrno(writeErr ? writeErr : errno, target);
}
