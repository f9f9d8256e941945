#pragma once
// What the benchmark programs share: a source file of pseudo-random bytes (so
// nothing on the way can compress it) and the engine's server on loopback.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/http_server.h"

namespace bench {

inline bool writeSource(const std::filesystem::path& path, int64_t size) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const size_t blockSize = 4 << 20;
    std::vector<uint64_t> block(blockSize / 8);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int64_t written = 0; written < size; written += int64_t(blockSize)) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t n = size_t(std::min<int64_t>(int64_t(blockSize), size - written));
        if (std::fwrite(block.data(), 1, n, out) != n) {
            std::fclose(out);
            return false;
        }
    }
    const bool ok = std::fclose(out) == 0;
    ::sync();  // the source's write-back must not slow the transfer down
    return ok;
}

// A started server on the first free port from firstPort, or null (with a message).
inline std::shared_ptr<corvane::HTTPServer> startServer(const std::filesystem::path& root, int firstPort,
                                                        const std::string& token) {
    corvane::ServerOptions options;
    options.firstPort = firstPort;
    options.lastPort = firstPort + 19;
    auto server = std::make_shared<corvane::HTTPServer>("bench-device", "Bench", token, "", root, options);
    if (!server->start()) {
        std::fprintf(stderr, "no free port from %d\n", firstPort);
        return nullptr;
    }
    return server;
}

}  // namespace bench
