// The lenient readers on any JSON a peer sends: every key read every way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/json_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto value = nlohmann::json::parse(data, data + size, nullptr, false);
    if (!value.is_object()) return 0;
    const corvane::Fields fields(value);
    for (const auto& [key, _] : value.items()) {
        (void)fields.s(key);
        (void)fields.i64(key);
        (void)fields.i(key);
        (void)fields.d(key);
        (void)fields.b(key);
    }
    (void)corvane::parseIntText(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)corvane::parseDoubleText(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
