#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The hosts a kiosk's pages may be on: names as written, or "*.name" for every sub-domain of
// name (not name itself). Hosts are compared without regard to ASCII letter case.
class HostAllowList
{
public:
    // Reads a comma-separated list. An entry with a scheme, a port, a path or another part of an
    // address is not a host: it allows nothing and is kept in refused(); empty entries are skipped.
    [[nodiscard]] static HostAllowList fromText(std::string_view text);
    // As fromText, for a settings value, which is read up to 255 characters: an entry cut there
    // could name another domain ("*.bank.co" of "*.bank.com"), so it allows nothing and is kept
    // in cutEntry().
    [[nodiscard]] static HostAllowList fromSettingValue(std::string_view value);

    void allow(std::string_view host);
    bool allows(std::string_view host) const;

    // What the text held that allows nothing, as written.
    const std::vector<std::string> &refused() const { return m_refused; }
    const std::optional<std::string> &cutEntry() const { return m_cutEntry; }

private:
    std::vector<std::string> m_patterns; // lower case; "*." kept in front of a sub-domain pattern
    std::vector<std::string> m_refused;
    std::optional<std::string> m_cutEntry;
};
