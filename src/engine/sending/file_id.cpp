#include "engine/sending/file_id.h"

#include <cmath>
#include <cstdio>

#include <unicode/unistr.h>

namespace corvane {

namespace {

// The mtime field: truncated toward zero; values a 64-bit integer cannot hold are clamped.
int64_t truncatedMTime(double mtime) {
    if (std::isnan(mtime)) return 0;
    if (mtime >= 9.2e18) return INT64_MAX;
    if (mtime <= -9.2e18) return INT64_MIN;
    return int64_t(mtime);
}

// UTF-8 text as UTF-16 code units; bytes that are not UTF-8 become U+FFFD.
std::u16string utf16(const std::string& text) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), size_t(u.length()));
}

}  // namespace

std::string FileID::hashUnits(const std::u16string& units) {
    uint32_t h1 = 0x811C9DC5u;
    uint32_t h2 = 0x1B873593u;
    uint32_t i = 0;
    for (const char16_t unit : units) {
        const uint32_t u = uint32_t(unit);
        h1 = (h1 ^ u) * 0x01000193u;
        uint32_t t = ((i + u) ^ h2) * 0x85EBCA6Bu;
        h2 = (t ^ (t >> 13)) * 0xC2B2AE35u;
        ++i;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%08x%08x", h1, h2);
    return out;
}

std::string FileID::hash(std::string_view name, int64_t size, double mtime, std::string_view rel) {
    std::string text;
    text.reserve(name.size() + rel.size() + 48);
    text.append(name);
    text += '|';
    text += std::to_string(size);
    text += '|';
    text += std::to_string(truncatedMTime(mtime));
    text += '|';
    text.append(rel);
    return hashUnits(utf16(text));
}

}  // namespace corvane
