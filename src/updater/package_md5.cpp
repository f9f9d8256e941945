#include "updater/package_md5.h"

#include <cstdio>
#include <memory>
#include <vector>

#include <openssl/evp.h>

namespace corvane {

std::optional<std::string> md5HexOfFile(const std::filesystem::path& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return std::nullopt;

    std::vector<unsigned char> piece(1 << 16);
    while (true) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), file.get());
        if (n > 0 && EVP_DigestUpdate(ctx.get(), piece.data(), n) != 1) return std::nullopt;
        if (n < piece.size()) break;
    }
    if (std::ferror(file.get())) return std::nullopt;

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

}  // namespace corvane
