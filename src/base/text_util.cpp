#include "base/text_util.h"

#include <algorithm>

namespace corvane {

std::string lowerASCII(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string upperASCII(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t at = text.find_first_of(separators, start);
        const size_t end = at == std::string_view::npos ? text.size() : at;
        if (end > start) out.push_back(text.substr(start, end - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

std::string percentEncodeExcept(std::string_view text, bool (*keep)(unsigned char)) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (keep(c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace corvane
