#pragma once

#include <string>
#include <string_view>
#include <vector>

// The hosts a kiosk's pages may be on: names as written, or "*.name" for every sub-domain of
// name (not name itself). Hosts are compared without regard to ASCII letter case.
class HostAllowList
{
public:
    // Reads a comma-separated list. An entry with a scheme, a port, a path or another part of an
    // address is not a host: it goes to `refused` and allows nothing; empty entries are skipped.
    static HostAllowList fromText(std::string_view text, std::vector<std::string> &refused);

    void allow(std::string_view host);
    bool allows(std::string_view host) const;

private:
    std::vector<std::string> m_patterns; // lower case; "*." kept in front of a sub-domain pattern
};
