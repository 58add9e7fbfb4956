#include "updatetrust.h"

#include "fileops.h"
#include "numberconversion.h"
#include "platform.h"
#include "text.h"
#include "updatemanifest.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <algorithm>
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
ErrorInfo parseMinisig(std::string_view text, Minisig &sig)
{
    const std::vector<std::string_view> lines = textLines(text);
    const auto bad = [](int lineNumber) {
        return refusal("Formato non valido in " + std::string(SignatureName) + " (riga " + std::to_string(lineNumber)
                       + ")");
    };
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
    return {};
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
ErrorInfo parseHashList(std::string_view text, std::map<std::string, std::string, std::less<>> &digests)
{
    const std::vector<std::string_view> lines = textLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty())
            continue;
        if (line.size() <= DigestHexLength + 2 || !isLowerHex(line.substr(0, DigestHexLength))
            || line[DigestHexLength] != ' ' || (line[DigestHexLength + 1] != ' ' && line[DigestHexLength + 1] != '*'))
            return refusal("Riga " + std::to_string(i + 1) + " non valida in " + std::string(HashListName));
        const std::string_view name = line.substr(DigestHexLength + 2);
        if (!digests.emplace(name, line.substr(0, DigestHexLength)).second)
            return refusal("Hash ripetuto per " + std::string(name) + " in " + std::string(HashListName));
    }
    return {};
}

std::string sha256Hex(std::string_view bytes)
{
    Sha256Stream stream;
    stream.add(bytes);
    return stream.finish();
}

// Reads one file of the set, refusing it unread past the limit.
ErrorInfo readSetFile(const std::filesystem::path &folder, std::string_view name, std::uintmax_t maxBytes,
                      std::string &content)
{
    Result<std::string> read = readFileUpTo(folder / name, maxBytes);
    content = std::move(read.value);
    const ErrorInfo &e = read.error;
    if (e.number == ErrorNumber::Overflow)
        return refusal(std::string(name) + " troppo grande (oltre " + std::to_string(maxBytes) + " byte)");
    return e.failed() ? fileRefusal("leggere", name, e) : ErrorInfo{};
}

ErrorInfo readState(const std::filesystem::path &stateFile, std::optional<std::int64_t> &lastAccepted)
{
    const std::string name = stateFile.filename().string();
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(stateFile, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return {};
    // A folder or a link there would read as "no set accepted yet" and let an older set back in.
    if (ec || status.type() != std::filesystem::file_type::regular)
        return refusal(name + " non è un file regolare: impossibile controllare l'ultimo aggiornamento accettato");
    const Result<std::string> content = readFileUpTo(stateFile, 64);
    if (const ErrorInfo &e = content.error; e.failed())
        return e.number == ErrorNumber::Overflow ? refusal("Contenuto non valido in " + name)
                                                 : fileRefusal("leggere", name, e);
    std::string_view line = content.value;
    if (line.ends_with("\r\n"))
        line.remove_suffix(2);
    if (line.starts_with(TimestampField))
        lastAccepted = parseTimestamp(line.substr(TimestampField.size()));
    return lastAccepted ? ErrorInfo{} : refusal("Contenuto non valido in " + name);
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

TrustSettingsReading trustSettingsFrom(std::string_view publicKeys, std::string_view maxAgeDays)
{
    TrustSettingsReading reading;
    if (!trimmed(publicKeys).empty()) {
        for (const std::string_view piece : splitAt(publicKeys, ',')) {
            const std::optional<PublicKey> key = parsePublicKey(trimmed(piece));
            if (!key) {
                reading.error = refusal("Chiave pubblica non valida in public_key: " + quoted(trimmed(piece)));
                return reading;
            }
            reading.settings.keys.push_back(*key);
        }
    }
    if (!trimmed(maxAgeDays).empty()) {
        const Result<int16_t> days = toInt16(maxAgeDays);
        if (days.error.failed() || days.value < 0) {
            reading.error = refusal("Valore non valido per max_age_days: " + quoted(maxAgeDays));
            return reading;
        }
        reading.settings.maxAgeDays = days.value;
    }
    return reading;
}

TrustSettingsReading readTrustSettings(const clsFileIni &ini)
{
    return trustSettingsFrom(ini.ReadKey("data", "public_key", ""), ini.ReadKey("data", "max_age_days", ""));
}

std::string unverifiedUpdatesLine(std::string_view settingsFileName)
{
    return "Aggiornamenti non verificati: impostare public_key in " + std::string(settingsFileName)
        + " per verificarne la firma";
}

// OpenSSL's SHA-256 uses the processor's SHA instructions where there are any: several times
// faster than libsodium's portable one, which would cost a large download a second.
struct Sha256Stream::State
{
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

Sha256Stream::Sha256Stream()
    : m_state(std::make_unique<State>())
{
    EVP_DigestInit_ex(m_state->context.get(), EVP_sha256(), nullptr);
}

Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream &&) noexcept = default;
Sha256Stream &Sha256Stream::operator=(Sha256Stream &&) noexcept = default;

void Sha256Stream::add(std::string_view bytes)
{
    EVP_DigestUpdate(m_state->context.get(), bytes.data(), bytes.size());
}

std::string Sha256Stream::finish()
{
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context.get(), digest.data(), &length);
    EVP_DigestInit_ex(m_state->context.get(), EVP_sha256(), nullptr);
    std::array<char, crypto_hash_sha256_BYTES * 2 + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    return hex.data();
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

std::string TrustedSet::verifiedLine() const
{
    return "Aggiornamento verificato: firmato il " + dateText(signedAt) + " con la chiave " + keyIdText(keyId);
}

TrustCheck verifyUpdateTexts(const TrustSettings &settings, const UpdateSetTexts &texts,
                             std::optional<std::int64_t> lastAccepted, TimePoint now)
{
    TrustCheck check;
    if (!sodiumReady()) {
        check.error = refusal("Verifica delle firme non disponibile (libsodium)");
        return check;
    }
    Minisig sig;
    if ((check.error = parseMinisig(texts.signature, sig)).failed()
        || (check.error = checkSignature(settings, sig, texts.hashList)).failed())
        return check;
    const std::optional<std::int64_t> signedAt = signingTime(sig.trustedComment);
    if (!signedAt) {
        check.error = refusal("Data di firma non valida in " + std::string(SignatureName));
        return check;
    }
    if ((check.error = checkFreshness(*signedAt, lastAccepted, settings.maxAgeDays, now)).failed())
        return check;

    std::map<std::string, std::string, std::less<>> listed;
    if ((check.error = parseHashList(texts.hashList, listed)).failed())
        return check;
    std::vector<std::string> needed = readManifest(texts.manifest).entries;
    needed.insert(needed.begin(), std::string(ManifestName));
    for (const std::string &name : needed) {
        const auto line = listed.find(name);
        if (line == listed.end()) {
            check.error = missingHash(name);
            return check;
        }
        check.set.digests.insert(*line);
    }
    if ((check.error = check.set.checkDigest(ManifestName, sha256Hex(texts.manifest))).failed())
        return check;
    check.set.signedAt = *signedAt;
    check.set.keyId = sig.keyId;
    return check;
}

TrustCheck verifyUpdateSet(const TrustSettings &settings, std::string_view manifestContent,
                           const std::filesystem::path &updateFolder, const std::filesystem::path &stateFile,
                           const Clock &clock)
{
    TrustCheck check;
    std::string hashList;
    std::string signature;
    std::optional<std::int64_t> lastAccepted;
    std::error_code ec;
    if (!ordinaryFileExists(updateFolder / SignatureName)
        || std::filesystem::file_size(updateFolder / SignatureName, ec) == 0) {
        check.error = refusal("Aggiornamento non firmato: " + std::string(SignatureName) + " assente o vuoto");
        return check;
    }
    if ((check.error = readSetFile(updateFolder, SignatureName, SignatureMaxBytes, signature)).failed()
        || (check.error = readSetFile(updateFolder, HashListName, HashListMaxBytes, hashList)).failed()
        || (check.error = readState(stateFile, lastAccepted)).failed())
        return check;
    return verifyUpdateTexts(settings, {manifestContent, hashList, signature}, lastAccepted, clock.now());
}

std::string staleSetLine(const TrustSettings &settings, const std::filesystem::path &stateFile, TimePoint now)
{
    if (!settings.verifies() || settings.maxAgeDays <= 0)
        return {};
    std::optional<std::int64_t> lastAccepted;
    const ErrorInfo e = readState(stateFile, lastAccepted);
    if (e.ok() && lastAccepted && unixSeconds(now) - *lastAccepted <= settings.maxAgeDays * SecondsPerDay)
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
