// The team primitives: key derivation, digests, random tokens, codes, Base64, addresses.

#include <cstdio>
#include <map>
#include <set>

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

struct KdfCase {
    std::string password, salt;
    int64_t iter, len;
    std::string expectedHex;
};

TEST(TeamPBKDF2, MatchesPublishedTestVectors) {
    // RFC 7914 section 11 (the last two) and the widely published SHA-256 variants of RFC 6070.
    const std::vector<KdfCase> cases = {
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

// Runs Python's hashlib on the same input; none when Python is not there.
std::optional<std::string> pythonPBKDF2Hex(const std::string& passwordHex, const std::string& saltHex, int iter,
                                           int len) {
    const std::string command = "python3 -c \"import hashlib,sys; sys.stdout.write(hashlib.pbkdf2_hmac('sha256', "
                                "bytes.fromhex('" + passwordHex + "'), bytes.fromhex('" + saltHex + "'), " +
                                std::to_string(iter) + ", " + std::to_string(len) + ").hex())\" 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    if (pclose(pipe) != 0 || out.empty()) return std::nullopt;
    return out;
}

TEST(TeamPBKDF2, AgreesWithPythonHashlibOnRandomInputs) {
    for (int i = 0; i < 3; ++i) {
        const std::string password = teamRandomBytes(size_t(5 + i * 7));
        const std::string salt = teamRandomBytes(16);
        const int iter = 1000 + i * 777;
        const auto expected = pythonPBKDF2Hex(hex(password), hex(salt), iter, 32 + i);
        if (!expected) GTEST_SKIP() << "python3 with hashlib is not available";
        EXPECT_EQ(hex(teamPBKDF2(password, salt, iter, 32 + i)), *expected) << "case " << i;
    }
}

TEST(TeamPBKDF2, GivesEmptyBytesWhenTheDerivationCannotRun) {
    const std::vector<std::pair<int64_t, int64_t>> cases = {
        {0, 32}, {-1, 32}, {int64_t(1) << 32, 32}, {1, 0}, {1, -5},
    };
    for (const auto& [iter, len] : cases) {
        EXPECT_EQ(teamPBKDF2("pw", "salt", iter, len), "") << "rounds " << iter << " length " << len;
    }
}

TEST(TeamSHA256, HexDigestOfTheUTF8Bytes) {
    const std::map<std::string, std::string> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& [text, digest] : cases) EXPECT_EQ(teamSHA256(text), digest) << text;
}

TEST(TeamRandomHex, GivesTwoLowerCaseDigitsPerByte) {
    EXPECT_EQ(teamRandomHex(0), "");
    for (int n : {1, 6, 24}) {
        const std::string h = teamRandomHex(n);
        EXPECT_EQ(h.size(), size_t(n) * 2);
        EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos) << h;
    }
    EXPECT_NE(teamRandomHex(24), teamRandomHex(24));
}

TEST(TeamValidEmail, AcceptsOnlyPlainAddressesOfFiveTo120Characters) {
    const std::string local115(115, 'a');
    const std::vector<std::pair<std::string, bool>> cases = {
        {"a@b.co", true},
        {"a@b.c", false},                 // last label of one letter
        {"first.last+tag@mail.example.org", true},
        {"x_y%z-1@sub-domain.cn", true},
        {"a@bc", false},                  // no dot before the last label
        {"@b.co", false},
        {"a@.co", false},
        {"a@..co", true},                 // the domain class takes dots as they come
        {"a b@c.de", false},
        {"a@b.c0", false},
        {"用户@例子.中国", false},
        {"a@b.co\n", false},
        {"", false},
        {"a@b.", false},
        {local115 + "@b.cn", true},       // 120 characters
        {local115 + "a@b.cn", false},     // 121 characters
    };
    for (const auto& [address, valid] : cases) EXPECT_EQ(teamValidEmail(address), valid) << address;
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

TEST(UniformIndex, APowerOfTwoBoundRejectsNothing) {
    int next = 0;
    auto source = [&] { return uint8_t(next++ & 0xFF); };
    for (int i = 0; i < 256; ++i) EXPECT_EQ(uniformIndex(32, source), size_t(i % 32));
    EXPECT_EQ(next, 256);
}

TEST(TeamRandomChars, DrawsOnlyFromTheAlphabet) {
    EXPECT_EQ(teamRandomChars("0123456789", 0), "");
    const std::string code = teamRandomChars("0123456789", 6);
    EXPECT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
    std::set<char> seen;
    for (int i = 0; i < 200; ++i) {
        for (char c : teamRandomChars("AB", 8)) seen.insert(c);
    }
    EXPECT_EQ(seen, (std::set<char>{'A', 'B'}));
}

TEST(Base64, RoundTripsAndPadsLikeTheStandardEncoding) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [raw, encoded] : cases) {
        EXPECT_EQ(base64Encode(raw), encoded);
        EXPECT_EQ(base64Decode(encoded), raw) << encoded;
    }
}

TEST(Base64, RefusesMalformedText) {
    for (const std::string bad : {"Zg", "Zg=", "Z===", "Zm9v\n", " Zm9v", "Zm-v", "Zm_v", "Zg==Zg==", "=Zg=", "Zm=v"}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
}

TEST(ConstantTimeEqual, ComparesWholeValues) {
    EXPECT_TRUE(constantTimeEqual("", ""));
    EXPECT_TRUE(constantTimeEqual("abc", "abc"));
    EXPECT_FALSE(constantTimeEqual("abc", "abd"));
    EXPECT_FALSE(constantTimeEqual("abc", "abcd"));
    EXPECT_FALSE(constantTimeEqual("", "a"));
}

}  // namespace
}  // namespace corvane
