// Byte ranges against any size: a range found lies inside the file, start before end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/server/handler_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    int64_t fileSize = 0;
    std::memcpy(&fileSize, data, 8);
    const std::string_view header(reinterpret_cast<const char*>(data + 8), size - 8);
    const auto range = corvane::parseRange(header, fileSize);
    if (range && (range->first < 0 || range->first > range->second || range->second >= fileSize)) abort();
    return 0;
}
