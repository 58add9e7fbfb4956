#include "text.h"

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string toLowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = lowerAscii(c);
    return lower;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text, std::string_view chars)
{
    const auto first = text.find_first_not_of(chars);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(chars);
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> splitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

namespace {

// Length of the UTF-8 character starting at i; a broken sequence counts as single bytes rather
// than swallowing what follows.
size_t characterLength(std::string_view text, size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    for (size_t k = 1; k < len; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 1;
    }
    return len;
}

} // namespace

std::string cutToCharacters(std::string_view text, size_t maxChars)
{
    size_t i = 0;
    for (size_t chars = 0; i < text.size() && chars < maxChars; ++chars)
        i += characterLength(text, i);
    return std::string(text.substr(0, i));
}

std::string cutToBytes(std::string_view text, size_t maxBytes)
{
    size_t i = 0;
    while (i < text.size()) {
        const size_t next = i + characterLength(text, i);
        if (next > maxBytes)
            break;
        i = next;
    }
    return std::string(text.substr(0, i));
}

std::string visibleText(std::string_view text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += Hex[byte >> 4];
            out += Hex[byte & 0xf];
        }
    }
    return out;
}
