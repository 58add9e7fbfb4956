#include "platform.h"
#include "process.h"
#include "signingkey.h"
#include "tempfolder.h"
#include "testclock.h"
#include "updatetrust.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cctype>
#include <functional>

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr std::int64_t SignedAt = 1796600000;
const TimePoint SigningTime{seconds(SignedAt)};

const unsigned char *bytesOf(std::string_view s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

std::string base64(const std::string &bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytesOf(bytes), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();
    return text;
}

std::string sha256(std::string_view bytes)
{
    Sha256Stream stream;
    stream.add(bytes);
    return stream.finish();
}

// Writes minisign's prehashed ("ED") format in-process, so that any trusted comment can be signed.
struct TestKey
{
    std::string id = std::string(8, '\0'), publicKey = std::string(32, '\0'), secretKey = std::string(64, '\0');

    TestKey()
    {
        EXPECT_GE(sodium_init(), 0);
        randombytes_buf(id.data(), id.size());
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                            reinterpret_cast<unsigned char *>(secretKey.data()));
    }
    std::string sign(std::string_view message) const
    {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, bytesOf(message), message.size(), bytesOf(secretKey));
        return {reinterpret_cast<const char *>(signature), sizeof signature};
    }
    std::string publicLine() const { return base64("Ed" + id + publicKey); }
    std::string minisig(std::string_view content, const std::string &comment) const
    {
        unsigned char prehash[crypto_generichash_BYTES_MAX];
        crypto_generichash(prehash, sizeof prehash, bytesOf(content), content.size(), nullptr, 0);
        const std::string signature = sign({reinterpret_cast<const char *>(prehash), sizeof prehash});
        return "untrusted comment: test key\n" + base64("ED" + id + signature) + "\ntrusted comment: " + comment + "\n"
            + base64(sign(signature + comment)) + "\n";
    }
};

std::string comment(std::int64_t timestamp)
{
    return "timestamp:" + std::to_string(timestamp) + "\tfile:update.sha256\thashed";
}

std::string dateOf(std::int64_t timestamp)
{
    return dateTimeText(platform::toLocal(TimePoint(seconds(timestamp))));
}

// One well-formed set, which each case spoils in one way.
struct SetUnderTest
{
    TestKey key;
    TrustSettings settings;
    std::string manifest = "TesmoraUpdate:\r\na\r\nb\r\n";
    std::string hashList;
    std::string signature;
    std::optional<std::int64_t> lastAccepted;
    TimePoint now = SigningTime + std::chrono::hours(1);

    SetUnderTest()
    {
        settings.keys = trustSettingsFrom(key.publicLine(), "").value.keys;
        listHashes();
    }
    void listHashes(const std::string &extraLines = {})
    {
        hashList = sha256(manifest) + "  update.txt\n" + sha256("A") + "  a\n" + extraLines + sha256("B") + "  b\n";
        resign();
    }
    void resign() { signature = key.minisig(hashList, comment(SignedAt)); }
    Result<TrustedSet> check() const
    {
        return verifyUpdateTexts(settings, {manifest, hashList, signature}, lastAccepted, now);
    }
};

TEST(UpdateTrust, EveryFaultOfASetIsRefusedWithItsOwnLine)
{
    const TestKey other;
    const KeyId otherId = trustSettingsFrom(other.publicLine(), "").value.keys.at(0).id;
    const std::string hexB = sha256("B");
    const std::vector<std::pair<std::string, std::function<void(SetUnderTest &)>>> cases = {
        {"Formato non valido in update.sha256.minisig (riga 2)",
         [](SetUnderTest &s) { s.signature.erase(s.signature.find('\n') + 40, 20); }},
        {"Formato non valido in update.sha256.minisig (riga 1)",
         [](SetUnderTest &s) { s.signature = "-----BEGIN PGP SIGNATURE-----\n\niQEzBAABCAAdFiEE\n"; }},
        {"Chiave sconosciuta (id " + keyIdText(otherId) + ") per update.sha256.minisig",
         [&](SetUnderTest &s) { s.signature = other.minisig(s.hashList, comment(SignedAt)); }},
        {"Firma non valida per update.sha256", [](SetUnderTest &s) { s.hashList[3] ^= 1; }},
        {"Firma del commento fidato non valida in update.sha256.minisig",
         [](SetUnderTest &s) { s.signature.replace(s.signature.find("timestamp:") + 10, 1, "2"); }},
        {"Data di firma non valida in update.sha256.minisig",
         [](SetUnderTest &s) { s.signature = s.key.minisig(s.hashList, "timestamp:soon\tfile:update.sha256"); }},
        {"Riga 2 non valida in update.sha256",
         [](SetUnderTest &s) {
             const size_t lineA = s.hashList.find('\n') + 1;
             for (size_t i = lineA; i < lineA + 64; ++i)
                 s.hashList[i] = static_cast<char>(std::toupper(s.hashList[i]));
             s.resign();
         }},
        {"Riga 2 non valida in update.sha256",
         [](SetUnderTest &s) {
             s.hashList.erase(s.hashList.find('\n') + 1, 1);
             s.resign();
         }},
        {"Hash ripetuto per b in update.sha256", [&](SetUnderTest &s) { s.listHashes(hexB + "  b\n"); }},
        {"Nessun hash per c in update.sha256",
         [](SetUnderTest &s) {
             s.manifest += "c\r\n";
             s.listHashes();
         }},
        {"Hash errato per update.txt", [](SetUnderTest &s) { s.manifest = "TesmoraUpdate:\r\nb\r\na\r\n"; }},
        {"Aggiornamento firmato il " + dateOf(SignedAt) + ", più vecchio dell'ultimo accettato (" + dateOf(SignedAt + 1)
             + ")",
         [](SetUnderTest &s) { s.lastAccepted = SignedAt + 1; }},
        {"Aggiornamento firmato il " + dateOf(SignedAt) + ", più vecchio di 2 giorni",
         [](SetUnderTest &s) {
             s.settings.maxAgeDays = 2;
             s.now = SigningTime + std::chrono::hours(48) + seconds(1);
         }},
        // Accepted: the same timestamp again, within max_age_days, a line for a name the manifest
        // does not hold, sha256sum's binary marker, and a second trusted key.
        {"",
         [](SetUnderTest &s) {
             s.lastAccepted = SignedAt;
             s.settings.maxAgeDays = 2;
             s.now = SigningTime + std::chrono::hours(48);
         }},
        {"", [&](SetUnderTest &s) { s.listHashes(std::string(64, '0') + " *not-listed\n"); }},
        {"",
         [&](SetUnderTest &s) {
             s.settings = trustSettingsFrom(other.publicLine() + " , " + s.key.publicLine(), "").value;
             s.signature = other.minisig(s.hashList, comment(SignedAt));
         }},
    };
    for (const auto &[expected, spoil] : cases) {
        SetUnderTest set;
        spoil(set);
        const Result<TrustedSet> check = set.check();
        EXPECT_EQ(check.error.description, expected);
        EXPECT_EQ(check.ok(), expected.empty()) << expected;
        if (check.ok()) {
            EXPECT_EQ(check.value.signedAt, SignedAt);
            EXPECT_TRUE(check.value.checkDigest("b", hexB).ok());
            EXPECT_EQ(check.value.checkDigest("a", hexB).description, "Hash errato per a");
            EXPECT_FALSE(check.value.digests.contains("not-listed"));
        } else {
            EXPECT_EQ(check.error.number, ErrorNumber::UserError);
        }
    }
}

TEST(UpdateTrust, SettingsAreReadWholeOrRefused)
{
    const TestKey one, two;
    const Result<TrustSettings> off = trustSettingsFrom("  ", "");
    EXPECT_TRUE(off.ok());
    EXPECT_FALSE(off.value.verifies());
    const Result<TrustSettings> both =
        trustSettingsFrom(" " + one.publicLine() + ",\t" + two.publicLine() + " ", " 30 ");
    ASSERT_TRUE(both.ok());
    EXPECT_EQ(both.value.keys.size(), 2u);
    EXPECT_EQ(both.value.maxAgeDays, 30);

    const std::string truncated = one.publicLine().substr(0, 40);
    EXPECT_EQ(trustSettingsFrom(two.publicLine() + "," + truncated, "").error.description,
              "Chiave pubblica non valida in public_key: '" + truncated + "'");
    EXPECT_EQ(trustSettingsFrom(one.publicLine() + ",", "").error.description,
              "Chiave pubblica non valida in public_key: ''");
    for (const char *days : {"-1", "tre", "40000"})
        EXPECT_EQ(trustSettingsFrom(one.publicLine(), days).error.description,
                  std::string("Valore non valido per max_age_days: '") + days + "'");
    // As minisign printed it for this key: "untrusted comment: minisign public key 385AD5C6633F1B5".
    EXPECT_EQ(keyIdText({0xB5, 0xF1, 0x33, 0x66, 0x5C, 0xAD, 0x85, 0x03}), "385AD5C6633F1B5");
    EXPECT_EQ(unverifiedUpdatesLine("TesmoraUpdate.ini"),
              "Aggiornamenti non verificati: impostare public_key in TesmoraUpdate.ini per verificarne la firma");
}

TEST(UpdateTrust, HashIsStreamedBlockByBlock)
{
    Sha256Stream stream;
    stream.add("a");
    stream.add("bc");
    EXPECT_EQ(stream.finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(stream.finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(UpdateTrust, FilesOfTheSetAreReadWithinBoundsAndTheStateFileStopsReplays)
{
    TempFolder dir;
    SetUnderTest set;
    TestClock clock;
    clock.set(set.now);
    writeFile(dir / "update.sha256", set.hashList);
    const fs::path state = dir / "TesmoraUpdate.trust";
    const auto verify = [&] { return verifyUpdateSet(set.settings, set.manifest, dir.path(), state, clock); };

    const std::string unsigned_ = "Aggiornamento non firmato: update.sha256.minisig assente o vuoto";
    EXPECT_EQ(verify().error.description, unsigned_);
    writeFile(dir / "update.sha256.minisig", "");
    EXPECT_EQ(verify().error.description, unsigned_);
    writeFile(dir / "update.sha256.minisig", std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(verify().error.description, "update.sha256.minisig troppo grande (oltre 8192 byte)");

    writeFile(dir / "update.sha256.minisig", set.signature);
    const Result<TrustedSet> first = verify();
    ASSERT_TRUE(first.ok()) << first.error.description;
    ASSERT_TRUE(recordAcceptedSet(first.value, state).ok());
    EXPECT_EQ(readFile(state), "timestamp:" + std::to_string(SignedAt) + "\r\n");
    EXPECT_TRUE(verify().ok()) << "the same set again";

    writeFile(state, "timestamp:" + std::to_string(SignedAt + 60) + "\r\n");
    EXPECT_EQ(verify().error.description,
              "Aggiornamento firmato il " + dateOf(SignedAt) + ", più vecchio dell'ultimo accettato ("
                  + dateOf(SignedAt + 60) + ")");
    writeFile(state, "timestamp:yesterday\r\n");
    EXPECT_EQ(verify().error.description, "Contenuto non valido in TesmoraUpdate.trust");

    // Anything but a plain file would read as "none accepted yet" and let the replay in.
    const std::string notAFile = "TesmoraUpdate.trust non è un file regolare: impossibile controllare l'ultimo "
                                 "aggiornamento accettato";
    fs::remove(state);
    fs::create_directory(state);
    EXPECT_EQ(verify().error.description, notAFile);
    fs::remove(state);
    fs::create_symlink(dir / "absent", state);
    EXPECT_EQ(verify().error.description, notAFile);

    // Freshness of the kiosk itself: the newest set accepted, or none at all, against max_age_days.
    fs::remove(state);
    TrustSettings aging = set.settings;
    aging.maxAgeDays = 2;
    EXPECT_EQ(staleSetLine(aging, state, set.now), "Nessun aggiornamento firmato accettato da oltre 2 giorni");
    ASSERT_TRUE(recordAcceptedSet(first.value, state).ok());
    EXPECT_EQ(staleSetLine(aging, state, set.now), "");
    EXPECT_EQ(staleSetLine(aging, state, set.now + std::chrono::hours(24 * 3)),
              "Nessun aggiornamento firmato accettato da oltre 2 giorni (l'ultimo è firmato il " + dateOf(SignedAt)
                  + ")");
    EXPECT_EQ(staleSetLine(set.settings, state, set.now + std::chrono::hours(24 * 300)), "") << "max_age_days off";
}

// The formats as the real minisign writes them: both of its signature algorithms, its key file,
// and the publishing command end to end.
TEST(UpdateTrust, SetsMadeWithTheRealMinisignAndThePublishingCommandVerify)
{
    TempFolder dir;
    const std::string keyLine = makeMinisignKey(dir.path(), "key");
    ASSERT_FALSE(keyLine.empty()) << readFile(dir / "output.txt");
    const std::string pub = readFile(dir / "key.pub");
    const TrustSettings settings = trustSettingsFrom(keyLine, "").value;
    ASSERT_TRUE(settings.verifies()) << pub;
    EXPECT_NE(pub.find("minisign public key " + keyIdText(settings.keys[0].id)), std::string::npos) << pub;

    fs::create_directory(dir / "set");
    writeFile(dir / "set" / "tesmora", arbitraryBytes(100000, 1));
    writeFile(dir / "set" / " blank name", "b");
    writeFile(dir / "set" / "logo.png", "png");
    writeFile(dir / "set" / "Shutdown.TXT", "a name every kiosk refuses to install");
    const fs::path publish = fs::path(PUBLISH_COMMAND);
    ASSERT_EQ(runProgram(publish, {"-s", "key.sec", "-p", "key.pub", "set"}, dir.path()), 0)
        << readFile(dir / "output.txt");
    EXPECT_NE(readFile(dir / "output.txt").find("Shutdown.TXT"), std::string::npos) << "says what it left out";
    const std::string manifest = readFile(dir / "set" / "update.txt");
    EXPECT_EQ(manifest, "TesmoraUpdate:\r\n blank name\r\nlogo.png\r\ntesmora\r\n");

    TestClock clock;
    const fs::path state = dir / "TesmoraUpdate.trust";
    const auto algorithm = [&] {
        const std::string signature = readFile(dir / "set" / "update.sha256.minisig");
        return signature.substr(signature.find('\n') + 1, 2);
    };
    EXPECT_EQ(algorithm(), "RU") << "\"ED\", minisign's default";
    const Result<TrustedSet> check = verifyUpdateSet(settings, manifest, dir / "set", state, clock);
    ASSERT_TRUE(check.ok()) << check.error.description;
    EXPECT_TRUE(check.value.checkDigest("tesmora", sha256(readFile(dir / "set" / "tesmora"))).ok());
    EXPECT_EQ(check.value.checkDigest("logo.png", sha256("png!")).description, "Hash errato per logo.png");

    // minisign's legacy algorithm ("Ed"), over the same list.
    ASSERT_EQ(runProgram("/usr/bin/minisign", {"-S", "-l", "-s", "key.sec", "-m", "set/update.sha256"}, dir.path()), 0);
    EXPECT_EQ(algorithm(), "RW") << "\"Ed\"";
    EXPECT_TRUE(verifyUpdateSet(settings, manifest, dir / "set", state, clock).ok());

    writeFile(dir / "set" / ".logo.png.download-3", "the shape of the updater's temporary files");
    for (const char *name : {"../key.sec", "Shutdown.TXT", ".logo.png.download-3"})
        EXPECT_EQ(runProgram(publish, {"-s", "key.sec", "set", "logo.png", name}, dir.path()), 1) << name;
    EXPECT_EQ(readFile(dir / "set" / "update.txt"), manifest) << "a refused name leaves the set as it was";

    // "Nothing to install", signed like any set, whatever the folder holds.
    ASSERT_EQ(runProgram(publish, {"-s", "key.sec", "-e", "set"}, dir.path()), 0) << readFile(dir / "output.txt");
    EXPECT_EQ(readFile(dir / "set" / "update.txt"), "TesmoraUpdate:\r\n");
    EXPECT_TRUE(verifyUpdateSet(settings, "TesmoraUpdate:\r\n", dir / "set", state, clock).ok());
}

} // namespace
