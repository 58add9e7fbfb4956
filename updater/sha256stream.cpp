#include "sha256stream.h"

#include "errorinfo.h"
#include "platform.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstdio>

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

Result<std::string> fileSha256(const std::filesystem::path &path)
{
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(platform::openFile(path, "rb"), std::fclose);
    if (!file)
        return Result<std::string>::failure(errorFromErrno(errno ? errno : EIO, path));
    Sha256Stream stream;
    std::string block(1024 * 1024, '\0');
    while (const size_t n = std::fread(block.data(), 1, block.size(), file.get()))
        stream.add(std::string_view(block.data(), n));
    if (std::ferror(file.get()))
        return Result<std::string>::failure(errorFromErrno(EIO, path));
    return {stream.finish(), {}};
}
