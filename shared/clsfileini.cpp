#include "clsfileini.h"

#include "fileops.h"
#include "text.h"

#include <vector>

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool sameName(std::string_view a, std::string_view b)
{
    return equalsIgnoringCase(trimmed(a), trimmed(b));
}

struct Line
{
    std::string_view text; // without its line end
    std::string_view end; // "\r\n", "\n", or for the last line "\r" or ""
};

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        const auto nl = content.find('\n', pos);
        if (nl == std::string_view::npos) {
            // A file cut after the "\r" of its last line: that "\r" is the line's end, or a
            // "\n" added after it would change what the line says.
            const auto last = content.substr(pos);
            const size_t cut = last.ends_with('\r') ? 1 : 0;
            lines.push_back({last.substr(0, last.size() - cut), last.substr(last.size() - cut)});
            break;
        }
        size_t textEnd = nl;
        if (textEnd > pos && content[textEnd - 1] == '\r')
            --textEnd;
        lines.push_back({content.substr(pos, textEnd - pos), content.substr(textEnd, nl + 1 - textEnd)});
        pos = nl + 1;
    }
    return lines;
}

enum class LineKind { Other, Section, Entry };

struct Parsed
{
    LineKind kind = LineKind::Other;
    std::string_view name; // section name or key, trimmed
    std::string_view value; // entries only, trimmed, quotes still on
};

Parsed parseLine(std::string_view text, bool firstLine)
{
    if (firstLine && text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());
    const std::string_view t = trimmed(text);
    if (t.empty() || t.front() == ';')
        return {};
    if (t.front() == '[') {
        const auto close = t.find(']');
        const auto inner = t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        return {LineKind::Section, trimmed(inner), {}};
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return {};
    return {LineKind::Entry, trimmed(t.substr(0, eq)), trimmed(t.substr(eq + 1))};
}

std::string_view unquoted(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// Index range [begin, end) of the body of the first section with this name, or begin == npos.
struct SectionRange
{
    size_t header = std::string_view::npos;
    size_t end = 0;
};

SectionRange findSection(const std::vector<Line> &lines, std::string_view section)
{
    SectionRange r;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = parseLine(lines[i].text, i == 0);
        if (p.kind != LineKind::Section)
            continue;
        if (r.header != std::string_view::npos) {
            r.end = i;
            return r;
        }
        if (sameName(p.name, section))
            r.header = i;
    }
    r.end = lines.size();
    return r;
}

} // namespace

std::optional<std::string> iniLookup(std::string_view content, std::string_view section, std::string_view key)
{
    const auto lines = splitLines(content);
    const SectionRange r = findSection(lines, section);
    if (r.header == std::string_view::npos)
        return std::nullopt;
    for (size_t i = r.header + 1; i < r.end; ++i) {
        const Parsed p = parseLine(lines[i].text, false);
        if (p.kind == LineKind::Entry && sameName(p.name, key))
            return std::string(unquoted(p.value));
    }
    return std::nullopt;
}

std::string iniWithValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value)
{
    const auto lines = splitLines(content);
    const std::string_view eol = content.find("\r\n") != std::string_view::npos ? "\r\n"
        : content.find('\n') != std::string_view::npos                          ? "\n"
                                                                                : "\r\n";
    const std::string newEntry = std::string(trimmed(key)) + "=" + std::string(value);

    auto join = [&](size_t replaceAt, const std::string &replacement, size_t insertAt, const std::string &insertion) {
        std::string out;
        out.reserve(content.size() + insertion.size() + replacement.size() + 8);
        for (size_t i = 0; i <= lines.size(); ++i) {
            if (i == insertAt) {
                if (!out.empty() && !out.ends_with('\n'))
                    out += out.ends_with('\r') ? std::string_view("\n") : eol;
                out += insertion;
            }
            if (i == lines.size())
                break;
            out += (i == replaceAt) ? replacement : std::string(lines[i].text);
            out += lines[i].end;
        }
        return out;
    };
    constexpr size_t none = std::string_view::npos;

    const SectionRange r = findSection(lines, section);
    if (r.header == none) {
        const std::string block =
            "[" + std::string(trimmed(section)) + "]" + std::string(eol) + newEntry + std::string(eol);
        return join(none, {}, lines.size(), block);
    }
    size_t lastFilled = r.header;
    for (size_t i = r.header + 1; i < r.end; ++i) {
        const Parsed p = parseLine(lines[i].text, false);
        if (p.kind == LineKind::Entry && sameName(p.name, key)) {
            // Keep the key as the file spells it, blanks included; only the value changes.
            const auto eq = lines[i].text.find('=');
            return join(i, std::string(lines[i].text.substr(0, eq + 1)) + std::string(value), none, {});
        }
        if (!trimmed(lines[i].text).empty())
            lastFilled = i;
    }
    return join(none, {}, lastFilled + 1, newEntry + std::string(eol));
}

std::string clsFileIni::ReadKey(const std::string &aSezione, const std::string &aChiave,
                                const std::string &aDefault) const
{
    if (m_nomeFile.empty() || !ordinaryFileExists(m_nomeFile))
        return cutToCharacters(aDefault, IniValueMaxLength);
    // A file that cannot be read is a missing file, as the system's own reader takes it.
    if (const Result<std::string> content = readWholeFile(m_nomeFile); content.ok()) {
        if (auto value = iniLookup(content.value, aSezione, aChiave))
            return cutToCharacters(*value, IniValueMaxLength);
    }
    return cutToCharacters(aDefault, IniValueMaxLength);
}

ErrorInfo clsFileIni::WriteKey(const std::string &aSezione, const std::string &aChiave, const std::string &aValore)
{
    const auto breaks = std::string_view("\r\n");
    if (m_nomeFile.empty() || aValore.find_first_of(breaks) != std::string::npos
        || aChiave.find_first_of(breaks) != std::string::npos || aSezione.find_first_of(breaks) != std::string::npos)
        return errorFor(ErrorNumber::InvalidArgument);
    Result<std::string> content;
    // Never replace a file we could not read with one that lacks its lines.
    if (ordinaryFileExists(m_nomeFile) && (content = readWholeFile(m_nomeFile)).failed())
        return content.error;
    return replaceFileAtomically(m_nomeFile, iniWithValue(content.value, aSezione, aChiave, aValore));
}

ErrorInfo clsFileIni::Delete()
{
    if (m_nomeFile.empty() || !ordinaryFileExists(m_nomeFile))
        return {};
    std::error_code ec;
    std::filesystem::remove(m_nomeFile, ec);
    return errorFromSystem(ec, m_nomeFile);
}
