// Percent-decoding: what it gives back is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/unicode_text.h"
#include "engine/server/http_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto decoded = corvane::percentDecode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (decoded && !corvane::isValidUTF8(*decoded)) abort();
    return 0;
}
