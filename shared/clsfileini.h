#pragma once

#include "errorinfo.h"
#include "text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Access to one INI settings file. Every call goes to the file; nothing is cached, so a value
// changed while a program runs is seen by the next read.
//
// Layout: "[section]" lines open sections; "key=value" lines inside them. Section and key names
// match without regard to ASCII letter case and without surrounding blanks. A value loses its
// surrounding blanks and one pair of enclosing double or single quotes. Lines starting with ";"
// are comments, lines without "=" are ignored, and the first of duplicate sections or keys wins.
class clsFileIni
{
public:
    void setNomeFile(const std::string &vData) { m_nomeFile = vData; }
    const std::string &NomeFile() const { return m_nomeFile; }

    // The key's value (an empty value included), or aDefault when the file, the section or the
    // key is missing. Either is cut to its first 255 characters.
    std::string ReadKey(const std::string &aSezione, const std::string &aChiave, const std::string &aDefault) const;

    // Creates the file, section or key as needed and replaces the value, keeping every other line
    // as it was. The file is replaced atomically. A value holding a line break is not written,
    // since it could not be read back (Invalid argument, 5), nor is a file that cannot be read.
    ErrorInfo WriteKey(const std::string &aSezione, const std::string &aChiave, const std::string &aValore);

    // Deletes the whole settings file if an ordinary file is there.
    ErrorInfo Delete();

private:
    std::string m_nomeFile;
};

constexpr size_t IniValueMaxLength = 255;

// The rules above on a file's content, without touching the disk.
std::optional<std::string> iniLookup(std::string_view content, std::string_view section, std::string_view key);
std::string iniWithValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value);
