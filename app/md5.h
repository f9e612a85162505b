// The MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"

class Md5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    Md5() { Reset(); }

    void Update(const std::uint8_t* data, std::size_t size);
    // The digest of everything given since construction or the last Final; the object then starts over.
    Digest Final();

private:
    void Reset();
    void ProcessBlock(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{};
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// 32 lowercase hexadecimal digits, two per digest byte in digest order.
std::string Md5Hex(const std::uint8_t* data, std::size_t size);
inline std::string Md5Hex(const ByteBuffer& data) { return Md5Hex(data.data(), data.size()); }
