#pragma once

// Trusted update sets. Beside "update.txt" a published set holds "update.sha256", sha256sum's
// lines for update.txt and every entry, and "update.sha256.minisig", minisign's signature of that
// list. With public_key set, the run installs a set only when its signature, its date and every
// hash hold. Each refusal carries one Italian log line naming what failed and which file, as the
// description of an ErrorInfo (number -2147220504, or a file error's number).
//
// The run, in its order:
//   1. readTrustSettings(IniFile): failed: log, end. Not verifying: log unverifiedUpdatesLine().
//   2. download update.txt, update.sha256 and update.sha256.minisig into the update folder;
//   3. verifyUpdateSet(): failed: log, end, nothing installed; passed: log set.signatureLine();
//   4. feed each entry's blocks to a Sha256Stream while downloading, then
//      set.checkDigest(entry, stream.finish()): failed: log, end, nothing installed;
//   5. once every entry is installed: recordAcceptedSet(set, program.trustStateFile()).

#include "clock.h"
#include "clsfileini.h"
#include "errorinfo.h"
#include "result.h"
#include "sha256stream.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::string_view HashListName = "update.sha256";
constexpr std::string_view SignatureName = "update.sha256.minisig";

// minisign's signature files stay under 1 KiB: a larger file is refused without being read whole.
constexpr std::uintmax_t SignatureMaxBytes = 8 * 1024;
// Room for the manifest's 32767 entries with names of some 60 bytes.
constexpr std::uintmax_t HashListMaxBytes = 4 * 1024 * 1024;

using KeyId = std::array<unsigned char, 8>;

// One minisign public key: the base64 line of a ".pub" file decodes to "Ed", the key id and the
// 32-byte Ed25519 key.
struct PublicKey
{
    KeyId id{};
    std::array<unsigned char, 32> key{};
};

// The key id as minisign shows it ("minisign public key 6B20199C8DCDA441"): the bytes read as a
// little-endian number, in upper-case hex without leading zeros.
std::string keyIdText(const KeyId &id);

struct TrustSettings
{
    std::vector<PublicKey> keys; // empty: updates are not verified
    int maxAgeDays = 0; // 0: a set may be of any age

    bool verifies() const { return !keys.empty(); }
};

// public_key: minisign public keys separated by commas, blanks around each allowed; blank turns
// verification off. max_age_days: a whole number of days, 0 (off) when blank. Any piece that cannot
// be read fails the whole reading, so that a kiosk meant to verify never quietly stops verifying.
Result<TrustSettings> trustSettingsFrom(std::string_view publicKeys, std::string_view maxAgeDays);
// The same for the keys public_key and max_age_days of section "data" (missing: blank).
Result<TrustSettings> readTrustSettings(const clsFileIni &ini);

// The line that a run without verification logs, naming the settings file to change.
std::string unverifiedUpdatesLine(std::string_view settingsFileName);

// A set whose signature and date held, with the digest update.sha256 gives each entry.
struct TrustedSet
{
    std::map<std::string, std::string, std::less<>> digests; // update.txt and the manifest's names
    std::int64_t signedAt = 0; // the trusted comment's timestamp, in Unix seconds
    KeyId keyId{};

    // Fails with "Hash errato per <entry>" when the digest differs from the listed one, and with
    // "Nessun hash per <entry> in update.sha256" for a name the set does not list.
    ErrorInfo checkDigest(std::string_view entry, std::string_view hexDigest) const;
    // The line telling the log which key signed the hash list and when: only the list is checked
    // then, not yet the files it lists.
    std::string signatureLine() const;
    // The line for a set whose files all matched their listed digests.
    static std::string verifiedLine(std::size_t files)
    {
        return "Aggiornamento verificato: " + std::to_string(files) + " file con l'hash firmato";
    }
};

// The content of the three downloaded files.
struct UpdateSetTexts
{
    std::string_view manifest;
    std::string_view hashList;
    std::string_view signature;
};

// The check itself: signature over the hash list and over its trusted comment by one of the keys;
// the comment's timestamp not earlier than lastAccepted and, with maxAgeDays, not older than that
// at now; every hash line well formed; a line for update.txt, matching manifest, and one for each
// entry of readManifest(manifest). Lines for other names are ignored.
Result<TrustedSet> verifyUpdateTexts(const TrustSettings &settings, const UpdateSetTexts &texts,
                                     std::optional<std::int64_t> lastAccepted, TimePoint now);

// The same for the files in updateFolder (oversized ones refused unread), with the newest
// accepted timestamp kept in stateFile (a missing file: none yet) and now from clock.
Result<TrustedSet> verifyUpdateSet(const TrustSettings &settings, std::string_view manifestContent,
                                   const std::filesystem::path &updateFolder, const std::filesystem::path &stateFile,
                                   const Clock &clock);

// With maxAgeDays, the line telling that the newest set accepted (kept in stateFile) is older than
// that at now, or that none was ever accepted; empty when the kiosk is up to date or nothing is
// checked.
std::string staleSetLine(const TrustSettings &settings, const std::filesystem::path &stateFile, TimePoint now);

// Keeps set.signedAt in stateFile as the newest accepted timestamp, replacing the file atomically.
// Called once the set is installed, so that a failed run can be tried again.
ErrorInfo recordAcceptedSet(const TrustedSet &set, const std::filesystem::path &stateFile);
