#include "hostallowlist.h"

#include "clsfileini.h"
#include "text.h"

namespace {

bool isHostPattern(std::string_view entry)
{
    std::string_view host = entry.starts_with("*.") ? entry.substr(2) : entry;
    // A bracketed IPv6 address holds colons of its own.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos)
        return false;
    return !host.empty() && host.find_first_of("/\\?#@*[] \t") == std::string_view::npos;
}

} // namespace

HostAllowList HostAllowList::fromText(std::string_view text)
{
    HostAllowList list;
    for (const std::string_view piece : splitAt(text, ',')) {
        const std::string_view entry = trimmed(piece);
        if (entry.empty())
            continue;
        if (isHostPattern(entry))
            list.allow(entry);
        else
            list.m_refused.emplace_back(entry);
    }
    return list;
}

HostAllowList HostAllowList::fromSettingValue(std::string_view value)
{
    if (cutToCharacters(value, IniValueMaxLength - 1).size() == value.size())
        return fromText(value);
    const size_t comma = value.rfind(',');
    const size_t cutFrom = comma == std::string_view::npos ? 0 : comma + 1;
    HostAllowList list = fromText(value.substr(0, cutFrom));
    list.m_cutEntry = std::string(trimmed(value.substr(cutFrom), " "));
    return list;
}

void HostAllowList::allow(std::string_view host)
{
    std::string pattern = toLowerAscii(host);
    if (pattern.size() > 2 && pattern.front() == '[' && pattern.back() == ']')
        pattern = pattern.substr(1, pattern.size() - 2);
    if (!pattern.empty())
        m_patterns.push_back(std::move(pattern));
}

bool HostAllowList::allows(std::string_view host) const
{
    const std::string name = toLowerAscii(host);
    for (const std::string &pattern : m_patterns) {
        if (pattern.starts_with("*.") ? name.size() > pattern.size() - 1 && name.ends_with(pattern.substr(1))
                                      : name == pattern)
            return true;
    }
    return false;
}
