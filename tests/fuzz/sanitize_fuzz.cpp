// Client path cleaning: whatever it accepts has no "..", no empty piece, no leading dot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/client_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto clean = corvane::sanitize(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!clean) return 0;
    const std::string& path = *clean;
    if (path.empty() || path.front() == '/' || path.back() == '/') abort();
    if (path.find("//") != std::string::npos || path.find("/.") != std::string::npos || path.front() == '.') abort();
    (void)corvane::isPrivateArea(path);
    return 0;
}
