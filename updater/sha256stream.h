#pragma once

#include "result.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// SHA-256 fed block by block as the data arrives, so that no file is read a second time.
class Sha256Stream
{
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream &&) noexcept;
    Sha256Stream &operator=(Sha256Stream &&) noexcept;

    void add(std::string_view bytes);
    // The digest of everything added, as 64 lower-case hex digits; the stream then starts over.
    std::string finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The SHA-256 of a file's content, as 64 lower-case hex digits, or the file error.
Result<std::string> fileSha256(const std::filesystem::path &path);
