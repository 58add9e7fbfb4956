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

// Small file helpers for checks.
std::string readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const std::string &content);
// count bytes of every value 0..255, the same for the same seed.
std::string arbitraryBytes(size_t count, unsigned seed);
// Lines split at CR LF (the files under test end their lines so); a last empty piece is dropped.
std::vector<std::string> readCrLfLines(const std::filesystem::path &path);
