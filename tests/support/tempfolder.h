#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::filesystem::path operator/(const std::string &name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// A file system of a few bytes over a folder, seen by this process alone (a mount namespace of
// its own), for what a full disk does. mounted() is false where the system does not allow it.
class SmallDisk
{
public:
    SmallDisk(const std::filesystem::path &folder, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::filesystem::path m_folder;
    bool m_mounted = false;
};

// Small file helpers for checks.
std::string readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const std::string &content);
// count bytes of every value 0..255, the same for the same seed.
std::string arbitraryBytes(size_t count, unsigned seed);
// Lines split at CR LF (the files under test end their lines so); a last empty piece is dropped.
std::vector<std::string> readCrLfLines(const std::filesystem::path &path);
// The names directly in a folder, sorted.
std::vector<std::string> folderNames(const std::filesystem::path &folder);
