// The direct JSON writers against the tree writer: any valid UTF-8 text and any number
// must come out as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/unicode_text.h"
#include "engine/server/http_response.h"

namespace {

// The tree writer's text of a one-item array, without its brackets.
std::string treeText(const nlohmann::json& item) {
    const auto body = corvane::encodeJSONBody(nlohmann::json::array({item}));
    if (!body || body->size() < 2) std::abort();
    return body->substr(1, body->size() - 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (corvane::isValidUTF8(text)) {
        std::string direct;
        corvane::appendJSONString(direct, text);
        if (direct != treeText(std::string(text))) std::abort();
    }
    if (size >= sizeof(double)) {
        double number;
        std::memcpy(&number, data, sizeof number);
        std::string direct;
        corvane::appendJSONNumber(direct, number);
        if (direct != treeText(number)) std::abort();
    }
    return 0;
}
