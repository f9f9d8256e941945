#include "storage/team_crypto.h"

#include <climits>
#include <cstdlib>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <regex>

#include "base/random_hex.h"
#include "base/unicode_text.h"

namespace corvane {

std::string teamPBKDF2(std::string_view password, std::string_view salt, int64_t iter, int64_t len) {
    // OpenSSL takes both counts as int; anything it cannot take is a failed derivation.
    if (iter < 1 || iter > INT_MAX || len < 1 || len > INT_MAX) return "";
    if (password.size() > size_t(INT_MAX) || salt.size() > size_t(INT_MAX)) return "";
    std::string out(size_t(len), '\0');
    const int ok = PKCS5_PBKDF2_HMAC(password.data(), int(password.size()),
                                     reinterpret_cast<const unsigned char*>(salt.data()), int(salt.size()),
                                     int(iter), EVP_sha256(), int(len), reinterpret_cast<unsigned char*>(out.data()));
    if (ok != 1) return "";
    return out;
}

static std::string hexOf(const unsigned char* bytes, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string teamSHA256(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        // SHA-256 is built into libcrypto; failing here means the library is unusable.
        abort();
    }
    return hexOf(digest, size);
}

std::string teamRandomHex(int n) { return randomHex(n); }

bool teamValidEmail(std::string_view address) {
    const size_t length = graphemeCount(address);
    if (length < 5 || length > 120) return false;
    static const std::regex pattern("^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}$");
    return std::regex_match(address.begin(), address.end(), pattern);
}

std::string teamRandomBytes(size_t n) {
    std::string out(n, '\0');
    if (n > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), int(n)) != 1) abort();
    return out;
}

static uint8_t randomByte() { return uint8_t(teamRandomBytes(1)[0]); }

size_t uniformIndex(size_t bound, const std::function<uint8_t()>& nextByte) {
    if (bound <= 1 || bound > 256) return 0;
    // The largest multiple of bound not above 256: bytes at or past it are drawn again.
    const unsigned limit = 256 - 256 % unsigned(bound);
    for (;;) {
        const unsigned b = nextByte();
        if (b < limit) return b % bound;
    }
}

std::string teamRandomChars(std::string_view alphabet, int count) {
    std::string out;
    if (alphabet.empty() || count <= 0) return out;
    for (int i = 0; i < count; ++i) out += alphabet[uniformIndex(alphabet.size(), randomByte)];
    return out;
}

static const char* base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                           uint32_t(uint8_t(bytes[i + 2]));
        out += base64Alphabet[v >> 18 & 63];
        out += base64Alphabet[v >> 12 & 63];
        out += base64Alphabet[v >> 6 & 63];
        out += base64Alphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        out += base64Alphabet[v >> 18 & 63];
        out += base64Alphabet[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += base64Alphabet[v >> 18 & 63];
        out += base64Alphabet[v >> 12 & 63];
        out += base64Alphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

static int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const int v = base64Value(text[i]);
        if (v < 0) return std::nullopt;
        acc = (acc << 6 | uint32_t(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char(acc >> bits & 0xFF);
        }
    }
    return out;
}

}  // namespace corvane
