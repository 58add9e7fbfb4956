#include "updaterstart.h"

#include <cstdint>

int updateSpreadSeconds(std::string_view machineIdentity, int spreadMinutes)
{
    if (spreadMinutes <= 0)
        return 0;
    // FNV-1a, the same on every build and machine (std::hash is not), then a final mix so that
    // host names differing in their last character land far apart.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : machineIdentity) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return static_cast<int>(hash % (static_cast<std::uint64_t>(spreadMinutes) * 60));
}
