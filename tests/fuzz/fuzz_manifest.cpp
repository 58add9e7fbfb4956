// The manifest reader on arbitrary content. Besides crashes and undefined behaviour it checks
// what the update run relies on: every accepted entry is a safe plain name, and an accepted
// list written out again in the published form reads back the same.

#include "updatemanifest.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void failure(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const ManifestReading reading = readManifest(content);

    switch (reading.outcome) {
    case ManifestReading::Outcome::Accepted: {
        if (reading.entries.size() > ManifestMaxEntries)
            failure("more entries than a run can count");
        std::string published(ManifestHeader);
        published += "\r\n";
        for (const std::string &entry : reading.entries) {
            if (!isSafeManifestEntry(entry) || entry.find_first_of("\r\n/\\") != std::string::npos)
                failure("an unsafe entry was accepted");
            published += entry + "\r\n";
        }
        const ManifestReading again = readManifest(published);
        if (again.outcome != ManifestReading::Outcome::Accepted || again.entries != reading.entries)
            failure("an accepted list does not read back the same");
        break;
    }
    case ManifestReading::Outcome::UnsafeEntry:
        if (!reading.entries.empty() || isSafeManifestEntry(reading.unsafeEntry))
            failure("a refused manifest names a safe entry or keeps entries");
        break;
    case ManifestReading::Outcome::BadHeader:
        if (!reading.entries.empty())
            failure("a manifest without its header keeps entries");
        if (!manifestLines(content).empty() && isManifestHeader(manifestLines(content).front()))
            failure("a good header was refused");
        break;
    case ManifestReading::Outcome::TooManyEntries:
        if (!reading.entries.empty())
            failure("a refused manifest keeps entries");
        break;
    }
    return 0;
}
