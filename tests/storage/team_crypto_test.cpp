// The team primitives: key derivation, uniform codes and whole-value comparison.

#include <map>

#include <gtest/gtest.h>

#include "storage/team_crypto.h"

namespace corvane {
namespace {

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(TeamPBKDF2, MatchesPublishedTestVectors) {
    // RFC 7914 section 11 (the last two) and the widely published SHA-256 variants of RFC 6070.
    struct Case {
        std::string password, salt;
        int64_t iter, len;
        std::string expectedHex;
    };
    const std::vector<Case> cases = {
        {"password", "salt", 1, 32, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 2, 32, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {"password", "salt", 4096, 32, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"passwd", "salt", 1, 64,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000, 64,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(teamPBKDF2(c.password, c.salt, c.iter, c.len)), c.expectedHex)
            << c.password << "/" << c.salt << " rounds " << c.iter;
    }
}

TEST(TeamPBKDF2, MatchesAKeyMadeByPythonHashlibWithTheStoredParameters) {
    // Made with: base64.b64encode(hashlib.pbkdf2_hmac('sha256', '密码Secret1'.encode(),
    //            bytes(range(16)), 120000, 32)) in Python 3.
    const std::string salt(reinterpret_cast<const char*>("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"), 16);
    EXPECT_EQ(base64Encode(teamPBKDF2("密码Secret1", salt, 120000, 32)),
              "BASZt+Z1P3tIRyC9Md4kocOEjPrEj1t1XIdz69CXOHs=");
}

TEST(UniformIndex, EveryDigitComesEquallyOftenFromEveryByteValue) {
    // One pass over all 256 byte values: 250..255 are drawn again, so 0..9 come 25 times each.
    int next = 0;
    auto source = [&] { return uint8_t(next++ & 0xFF); };
    std::map<size_t, int> counts;
    for (int i = 0; i < 250; ++i) counts[uniformIndex(10, source)]++;
    EXPECT_EQ(next, 250);
    for (size_t d = 0; d < 10; ++d) EXPECT_EQ(counts[d], 25) << "digit " << d;
    // The rejected tail is skipped: bytes 250..255 give nothing, 256 (= 0) gives 0.
    EXPECT_EQ(uniformIndex(10, source), 0u);
    EXPECT_EQ(next, 257);
}

// A stored hash that is a prefix of the right one, or empty, must not pass.
TEST(ConstantTimeEqual, ComparesWholeValues) {
    EXPECT_TRUE(constantTimeEqual("", ""));
    EXPECT_TRUE(constantTimeEqual("abc", "abc"));
    EXPECT_FALSE(constantTimeEqual("abc", "abd"));
    EXPECT_FALSE(constantTimeEqual("abc", "abcd"));
    EXPECT_FALSE(constantTimeEqual("", "a"));
}

}  // namespace
}  // namespace corvane
