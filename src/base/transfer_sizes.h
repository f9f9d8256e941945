#pragma once
// Sizes both ends of a transfer agree on.

#include <cstdint>

namespace corvane {

// One upload chunk, and the largest text sent as a message rather than a file.
constexpr int64_t kChunkSize = 4194304;

}  // namespace corvane
