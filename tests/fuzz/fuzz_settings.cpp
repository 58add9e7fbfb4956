// The settings reader on arbitrary file content. Besides crashes and undefined behaviour it
// checks the one promise callers rely on: a value written is the value read back.
//
// Input: section, key and value (each up to a NUL byte), then the file content. Names and value
// are kept to letters, digits and "_" so that the promise holds for them by the rules.

#include "clsfileini.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string_view nextPart(std::string_view &rest)
{
    const size_t nul = rest.find('\0');
    const std::string_view part = rest.substr(0, nul);
    rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
    return part;
}

std::string plainWord(std::string_view text)
{
    std::string word;
    for (const char c : text.substr(0, 32)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')
            word += c;
    }
    return word;
}

void failure(const char *what, std::string_view got, std::string_view expected)
{
    std::fprintf(stderr, "%s: got '%.*s', expected '%.*s'\n", what, static_cast<int>(got.size()), got.data(),
                 static_cast<int>(expected.size()), expected.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    const std::string section = plainWord(nextPart(rest));
    const std::string key = plainWord(nextPart(rest));
    const std::string value = plainWord(nextPart(rest));
    const std::string_view content = rest;

    // Reading anything must be safe, whatever the names.
    (void)iniLookup(content, section, key);
    (void)cutToCharacters(content, IniValueMaxLength);

    if (section.empty() || key.empty())
        return 0;
    const std::string written = iniWithValue(content, section, key, value);
    const auto readBack = iniLookup(written, section, key);
    if (!readBack)
        failure("written key not found", "", value);
    if (*readBack != value)
        failure("written value read back", *readBack, value);
    // Writing again the same value changes nothing.
    if (iniWithValue(written, section, key, value) != written)
        failure("second write changed the file", "", "");
    return 0;
}
