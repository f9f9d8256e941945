#include "base/random_hex.h"

#include <algorithm>
#include <cstdlib>
#include <openssl/rand.h>
#include <random>
#include <vector>

namespace corvane {

namespace {

const char* const kDigits = "0123456789abcdef";

void appendHex(std::string& out, unsigned char b) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
}

}  // namespace

std::string randomHex(int n) {
    if (n <= 0) return "";
    std::vector<unsigned char> bytes(size_t(n), 0);
    if (RAND_bytes(bytes.data(), n) != 1) abort();
    std::string out;
    out.reserve(size_t(n) * 2);
    for (unsigned char b : bytes) appendHex(out, b);
    return out;
}

std::string scratchHex(int n) {
    thread_local std::mt19937_64 generator = [] {
        std::random_device source;
        std::seed_seq seed{source(), source(), source(), source(), source(), source(), source(), source()};
        return std::mt19937_64(seed);
    }();
    std::string out;
    out.reserve(size_t(std::max(n, 0)) * 2);
    for (int k = 0; k < n; ++k) appendHex(out, static_cast<unsigned char>(generator()));
    return out;
}

}  // namespace corvane
