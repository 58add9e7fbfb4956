#include "updatetrust.h"

#include "fileops.h"
#include "numberconversion.h"
#include "platform.h"
#include "text.h"
#include "updatemanifest.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::string_view ManifestName = "update.txt";
constexpr std::string_view UntrustedPrefix = "untrusted comment: ";
constexpr std::string_view TrustedPrefix = "trusted comment: ";
constexpr std::string_view TimestampField = "timestamp:";
constexpr size_t DigestHexLength = 64;
constexpr std::int64_t SecondsPerDay = 86400;

using Signature = std::array<unsigned char, crypto_sign_BYTES>;
using Digests = std::map<std::string, std::string, std::less<>>;

ErrorInfo refusal(std::string line)
{
    return {ErrorNumber::UserError, std::move(line)};
}

// A file error keeps its number; the description becomes the whole log line.
ErrorInfo fileRefusal(std::string_view verb, std::string_view fileName, const ErrorInfo &error)
{
    return {error.number, "Impossibile " + std::string(verb) + " " + std::string(fileName) + " " + errorText(error)};
}

ErrorInfo missingHash(std::string_view name)
{
    return refusal("Nessun hash per " + std::string(name) + " in " + std::string(HashListName));
}

std::string quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

// minisign writes padded standard base64; anything shorter, longer or with stray characters is not
// its output.
bool decodeBase64(std::string_view text, unsigned char *out, size_t size)
{
    size_t length = 0;
    const char *end = nullptr;
    return !text.empty()
        && sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, &end,
                             sodium_base64_VARIANT_ORIGINAL)
        == 0
        && length == size && end == text.data() + text.size();
}

// Lines end at LF; a CR before it is dropped, for files that went through an editor that adds one.
std::vector<std::string_view> textLines(std::string_view text)
{
    std::vector<std::string_view> lines = splitAt(text, '\n');
    for (std::string_view &line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
    }
    return lines;
}

std::string dateText(std::int64_t unixSeconds)
{
    return dateTimeText(platform::toLocal(TimePoint(std::chrono::seconds(unixSeconds))));
}

std::int64_t unixSeconds(TimePoint t)
{
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// Digits only, and no later than the clock can hold (so it can be shown as a date).
std::optional<std::int64_t> parseTimestamp(std::string_view digits)
{
    static const std::int64_t latest = unixSeconds(TimePoint::max());
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    const bool allDigits =
        !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!allDigits || ec != std::errc() || end != digits.data() + digits.size() || value > latest)
        return std::nullopt;
    return value;
}

std::optional<PublicKey> parsePublicKey(std::string_view text)
{
    std::array<unsigned char, 2 + 8 + 32> raw{};
    if (!decodeBase64(text, raw.data(), raw.size()) || raw[0] != 'E' || raw[1] != 'd')
        return std::nullopt;
    PublicKey key;
    std::copy_n(raw.begin() + 2, key.id.size(), key.id.begin());
    std::copy_n(raw.begin() + 2 + key.id.size(), key.key.size(), key.key.begin());
    return key;
}

struct Minisig
{
    bool prehashed = false;
    KeyId keyId{};
    Signature signature{};
    std::string_view trustedComment;
    Signature globalSignature{};
};

// The four lines minisign writes; what follows them is ignored, as minisign itself does.
Result<Minisig> parseMinisig(std::string_view text)
{
    const std::vector<std::string_view> lines = textLines(text);
    const auto bad = [](int lineNumber) {
        return Result<Minisig>::failure(refusal("Formato non valido in " + std::string(SignatureName) + " (riga "
                                                + std::to_string(lineNumber) + ")"));
    };
    Minisig sig;
    if (lines.empty() || !lines[0].starts_with(UntrustedPrefix))
        return bad(1);
    std::array<unsigned char, 2 + 8 + crypto_sign_BYTES> raw{};
    if (lines.size() < 2 || !decodeBase64(lines[1], raw.data(), raw.size()) || raw[0] != 'E'
        || (raw[1] != 'd' && raw[1] != 'D'))
        return bad(2);
    if (lines.size() < 3 || !lines[2].starts_with(TrustedPrefix))
        return bad(3);
    if (lines.size() < 4 || !decodeBase64(lines[3], sig.globalSignature.data(), sig.globalSignature.size()))
        return bad(4);
    sig.prehashed = raw[1] == 'D';
    std::copy_n(raw.begin() + 2, sig.keyId.size(), sig.keyId.begin());
    std::copy_n(raw.begin() + 2 + sig.keyId.size(), sig.signature.size(), sig.signature.begin());
    sig.trustedComment = lines[2].substr(TrustedPrefix.size());
    return {sig, {}};
}

bool verifies(const Signature &signature, std::string_view message, const PublicKey &key)
{
    return crypto_sign_verify_detached(signature.data(), reinterpret_cast<const unsigned char *>(message.data()),
                                       message.size(), key.key.data())
        == 0;
}

// Key, signature over the content (its BLAKE2b-512 for "ED"), then the one over signature and
// trusted comment, which is what makes the comment's timestamp trustworthy.
ErrorInfo checkSignature(const TrustSettings &settings, const Minisig &sig, std::string_view content)
{
    const auto key =
        std::find_if(settings.keys.begin(), settings.keys.end(), [&](const PublicKey &k) { return k.id == sig.keyId; });
    if (key == settings.keys.end())
        return refusal("Chiave sconosciuta (id " + keyIdText(sig.keyId) + ") per " + std::string(SignatureName));

    std::array<unsigned char, crypto_generichash_BYTES_MAX> prehash{};
    std::string_view signedBytes = content;
    if (sig.prehashed) {
        crypto_generichash(prehash.data(), prehash.size(), reinterpret_cast<const unsigned char *>(content.data()),
                           content.size(), nullptr, 0);
        signedBytes = {reinterpret_cast<const char *>(prehash.data()), prehash.size()};
    }
    if (!verifies(sig.signature, signedBytes, *key))
        return refusal("Firma non valida per " + std::string(HashListName));

    std::string global(reinterpret_cast<const char *>(sig.signature.data()), sig.signature.size());
    global += sig.trustedComment;
    if (!verifies(sig.globalSignature, global, *key))
        return refusal("Firma del commento fidato non valida in " + std::string(SignatureName));
    return {};
}

// minisign's trusted comment is tab-separated fields: "timestamp:<n>\tfile:<name>[\thashed]".
std::optional<std::int64_t> signingTime(std::string_view trustedComment)
{
    for (const std::string_view field : splitAt(trustedComment, '\t')) {
        if (field.starts_with(TimestampField))
            return parseTimestamp(field.substr(TimestampField.size()));
    }
    return std::nullopt;
}

ErrorInfo checkFreshness(std::int64_t signedAt, std::optional<std::int64_t> lastAccepted, int maxAgeDays, TimePoint now)
{
    const std::string signedText = "Aggiornamento firmato il " + dateText(signedAt);
    if (lastAccepted && signedAt < *lastAccepted)
        return refusal(signedText + ", più vecchio dell'ultimo accettato (" + dateText(*lastAccepted) + ")");
    if (maxAgeDays > 0 && unixSeconds(now) - signedAt > maxAgeDays * SecondsPerDay)
        return refusal(signedText + ", più vecchio di " + std::to_string(maxAgeDays)
                       + (maxAgeDays == 1 ? " giorno" : " giorni"));
    return {};
}

bool isLowerHex(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// sha256sum's lines: 64 lower-case hex digits, a space, a space (text) or "*" (binary), the name.
Result<Digests> parseHashList(std::string_view text)
{
    using Failure = Result<Digests>;
    const std::vector<std::string_view> lines = textLines(text);
    Digests digests;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty())
            continue;
        if (line.size() <= DigestHexLength + 2 || !isLowerHex(line.substr(0, DigestHexLength))
            || line[DigestHexLength] != ' ' || (line[DigestHexLength + 1] != ' ' && line[DigestHexLength + 1] != '*'))
            return Failure::failure(
                refusal("Riga " + std::to_string(i + 1) + " non valida in " + std::string(HashListName)));
        const std::string_view name = line.substr(DigestHexLength + 2);
        if (!digests.emplace(name, line.substr(0, DigestHexLength)).second)
            return Failure::failure(
                refusal("Hash ripetuto per " + std::string(name) + " in " + std::string(HashListName)));
    }
    return {std::move(digests), {}};
}

std::string sha256Hex(std::string_view bytes)
{
    Sha256Stream stream;
    stream.add(bytes);
    return stream.finish();
}

// Reads one file of the set, refusing it unread past the limit.
Result<std::string> readSetFile(const std::filesystem::path &folder, std::string_view name, std::uintmax_t maxBytes)
{
    Result<std::string> read = readFileUpTo(folder / name, maxBytes);
    if (read.error.number == ErrorNumber::Overflow)
        read.error = refusal(std::string(name) + " troppo grande (oltre " + std::to_string(maxBytes) + " byte)");
    else if (read.failed())
        read.error = fileRefusal("leggere", name, read.error);
    return read;
}

// The newest signing time accepted, kept in stateFile; none when there is no such file.
Result<std::optional<std::int64_t>> readState(const std::filesystem::path &stateFile)
{
    using State = Result<std::optional<std::int64_t>>;
    const std::string name = stateFile.filename().string();
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(stateFile, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return {};
    // A folder or a link there would read as "no set accepted yet" and let an older set back in.
    if (ec || status.type() != std::filesystem::file_type::regular)
        return State::failure(
            refusal(name + " non è un file regolare: impossibile controllare l'ultimo aggiornamento accettato"));
    const Result<std::string> content = readFileUpTo(stateFile, 64);
    if (const ErrorInfo &e = content.error; e.failed())
        return State::failure(e.number == ErrorNumber::Overflow ? refusal("Contenuto non valido in " + name)
                                                                : fileRefusal("leggere", name, e));
    std::string_view line = content.value;
    if (line.ends_with("\r\n"))
        line.remove_suffix(2);
    const std::optional<std::int64_t> lastAccepted =
        line.starts_with(TimestampField) ? parseTimestamp(line.substr(TimestampField.size())) : std::nullopt;
    if (!lastAccepted)
        return State::failure(refusal("Contenuto non valido in " + name));
    return {lastAccepted, {}};
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

} // namespace

std::string keyIdText(const KeyId &id)
{
    std::uint64_t value = 0;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte)
        value = value << 8 | *byte;
    char text[17];
    std::snprintf(text, sizeof text, "%" PRIX64, value);
    return text;
}

Result<TrustSettings> trustSettingsFrom(std::string_view publicKeys, std::string_view maxAgeDays)
{
    using Failure = Result<TrustSettings>;
    TrustSettings settings;
    if (!trimmed(publicKeys).empty()) {
        for (const std::string_view piece : splitAt(publicKeys, ',')) {
            const std::optional<PublicKey> key = parsePublicKey(trimmed(piece));
            if (!key)
                return Failure::failure(refusal("Chiave pubblica non valida in public_key: " + quoted(trimmed(piece))));
            settings.keys.push_back(*key);
        }
    }
    if (!trimmed(maxAgeDays).empty()) {
        const Result<int16_t> days = toInt16(maxAgeDays);
        if (days.failed() || days.value < 0)
            return Failure::failure(refusal("Valore non valido per max_age_days: " + quoted(maxAgeDays)));
        settings.maxAgeDays = days.value;
    }
    return {settings, {}};
}

Result<TrustSettings> readTrustSettings(const clsFileIni &ini)
{
    return trustSettingsFrom(ini.ReadKey("data", "public_key", ""), ini.ReadKey("data", "max_age_days", ""));
}

std::string unverifiedUpdatesLine(std::string_view settingsFileName)
{
    return "Aggiornamenti non verificati: impostare public_key in " + std::string(settingsFileName)
        + " per verificarne la firma";
}

ErrorInfo TrustedSet::checkDigest(std::string_view entry, std::string_view hexDigest) const
{
    const auto listed = digests.find(entry);
    if (listed == digests.end())
        return missingHash(entry);
    if (listed->second != hexDigest)
        return refusal("Hash errato per " + std::string(entry));
    return {};
}

std::string TrustedSet::signatureLine() const
{
    return "Firma di " + std::string(HashListName) + " verificata: firmato il " + dateText(signedAt) + " con la chiave "
        + keyIdText(keyId);
}

Result<TrustedSet> verifyUpdateTexts(const TrustSettings &settings, const UpdateSetTexts &texts,
                                     std::optional<std::int64_t> lastAccepted, TimePoint now)
{
    using Failure = Result<TrustedSet>;
    if (!sodiumReady())
        return Failure::failure(refusal("Verifica delle firme non disponibile (libsodium)"));
    const Result<Minisig> sig = parseMinisig(texts.signature);
    if (sig.failed())
        return Failure::failure(sig.error);
    if (const ErrorInfo e = checkSignature(settings, sig.value, texts.hashList); e.failed())
        return Failure::failure(e);
    const std::optional<std::int64_t> signedAt = signingTime(sig.value.trustedComment);
    if (!signedAt)
        return Failure::failure(refusal("Data di firma non valida in " + std::string(SignatureName)));
    if (const ErrorInfo e = checkFreshness(*signedAt, lastAccepted, settings.maxAgeDays, now); e.failed())
        return Failure::failure(e);

    const Result<Digests> listed = parseHashList(texts.hashList);
    if (listed.failed())
        return Failure::failure(listed.error);
    std::vector<std::string> needed = readManifest(texts.manifest).entries;
    needed.insert(needed.begin(), std::string(ManifestName));
    TrustedSet set;
    for (const std::string &name : needed) {
        const auto line = listed.value.find(name);
        if (line == listed.value.end())
            return Failure::failure(missingHash(name));
        set.digests.insert(*line);
    }
    if (const ErrorInfo e = set.checkDigest(ManifestName, sha256Hex(texts.manifest)); e.failed())
        return Failure::failure(e);
    set.signedAt = *signedAt;
    set.keyId = sig.value.keyId;
    return {std::move(set), {}};
}

Result<TrustedSet> verifyUpdateSet(const TrustSettings &settings, std::string_view manifestContent,
                                   const std::filesystem::path &updateFolder, const std::filesystem::path &stateFile,
                                   const Clock &clock)
{
    using Failure = Result<TrustedSet>;
    std::error_code ec;
    if (!ordinaryFileExists(updateFolder / SignatureName)
        || std::filesystem::file_size(updateFolder / SignatureName, ec) == 0)
        return Failure::failure(
            refusal("Aggiornamento non firmato: " + std::string(SignatureName) + " assente o vuoto"));
    const Result<std::string> signature = readSetFile(updateFolder, SignatureName, SignatureMaxBytes);
    if (signature.failed())
        return Failure::failure(signature.error);
    const Result<std::string> hashList = readSetFile(updateFolder, HashListName, HashListMaxBytes);
    if (hashList.failed())
        return Failure::failure(hashList.error);
    const Result<std::optional<std::int64_t>> lastAccepted = readState(stateFile);
    if (lastAccepted.failed())
        return Failure::failure(lastAccepted.error);
    return verifyUpdateTexts(settings, {manifestContent, hashList.value, signature.value}, lastAccepted.value,
                             clock.now());
}

std::string staleSetLine(const TrustSettings &settings, const std::filesystem::path &stateFile, TimePoint now)
{
    if (!settings.verifies() || settings.maxAgeDays <= 0)
        return {};
    // A state that cannot be read says nothing of when a set was last accepted: the line says so.
    const std::optional<std::int64_t> lastAccepted = readState(stateFile).value;
    if (lastAccepted && unixSeconds(now) - *lastAccepted <= settings.maxAgeDays * SecondsPerDay)
        return {};
    const std::string days = std::to_string(settings.maxAgeDays) + (settings.maxAgeDays == 1 ? " giorno" : " giorni");
    return "Nessun aggiornamento firmato accettato da oltre " + days
        + (lastAccepted ? " (l'ultimo è firmato il " + dateText(*lastAccepted) + ")" : "");
}

ErrorInfo recordAcceptedSet(const TrustedSet &set, const std::filesystem::path &stateFile)
{
    if (const ErrorInfo e =
            replaceFileAtomically(stateFile, std::string(TimestampField) + std::to_string(set.signedAt) + "\r\n");
        e.failed())
        return fileRefusal("scrivere", stateFile.filename().string(), e);
    return {};
}
