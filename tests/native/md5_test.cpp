#include "app/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string Md5HexOf(const std::string& text) {
    return Md5Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

struct DigestCase {
    std::string message;
    const char* digest;
};

TEST(Md5, MatchesTheRfc1321TestSuite) {
    const DigestCase cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const DigestCase& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Md5HexOf(c.message), c.digest);
    }
}

// Lengths around the padding boundaries: the length field fits in the last block or needs one more.
TEST(Md5, PadsCorrectlyAroundBlockBoundaries) {
    const std::pair<std::size_t, const char*> cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
        {121, "f6acfca2d47c87f2b14ca038234d3614"}, {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& [length, digest] : cases) {
        SCOPED_TRACE(length);
        EXPECT_EQ(Md5HexOf(std::string(length, 'a')), digest);
    }
}

class Md5Streaming : public ::testing::Test {
protected:
    // 1000 bytes covering every byte value, high bytes included.
    Md5Streaming() : message(1000) {
        for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }

    static std::string Hex(const Md5::Digest& digest) {
        std::string hex;
        for (std::uint8_t byte : digest) {
            static constexpr char kDigits[] = "0123456789abcdef";
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 15];
        }
        return hex;
    }

    ByteBuffer message;
    static constexpr const char* kDigest = "0b8ae90ded6089334e353eb2669ab5e6";  // md5sum of message
};

TEST_F(Md5Streaming, OneCallMatchesAnIndependentDigest) { EXPECT_EQ(Md5Hex(message), kDigest); }

TEST_F(Md5Streaming, AnySplitInTwoGivesTheSameDigest) {
    Md5 md5;
    for (std::size_t split = 0; split <= message.size(); ++split) {
        md5.Update(message.data(), split);
        md5.Update(message.data() + split, message.size() - split);
        ASSERT_EQ(Hex(md5.Final()), kDigest) << "split at " << split;
    }
}

TEST_F(Md5Streaming, UnevenChunksGiveTheSameDigest) {
    for (std::size_t chunk : {1, 3, 63, 64, 65, 127, 200}) {
        Md5 md5;
        for (std::size_t pos = 0; pos < message.size(); pos += chunk) {
            md5.Update(message.data() + pos, std::min(chunk, message.size() - pos));
        }
        EXPECT_EQ(Hex(md5.Final()), kDigest) << "chunks of " << chunk;
    }
}

TEST(Md5, EmptyBufferWithoutStorageIsTheEmptyDigest) {
    EXPECT_EQ(Md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex(ByteBuffer()), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
