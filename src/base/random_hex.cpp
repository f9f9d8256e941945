#include "base/random_hex.h"

#include <cstdlib>
#include <openssl/rand.h>
#include <vector>

namespace corvane {

std::string randomHex(int n) {
    if (n <= 0) return "";
    std::vector<unsigned char> bytes(size_t(n), 0);
    if (RAND_bytes(bytes.data(), n) != 1) abort();
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(size_t(n) * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace corvane
