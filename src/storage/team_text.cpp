#include "storage/team_text.h"

#include <algorithm>
#include <functional>

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace corvane {

// Trims code points matching `strip` from both ends; stops at bytes that are not UTF-8.
static std::string trimWith(std::string_view text, const std::function<bool(UChar32)>& strip) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = int32_t(text.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c = 0;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !strip(c)) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t prev = end;
        UChar32 c = 0;
        U8_PREV(s, begin, prev, c);
        if (c < 0 || !strip(c)) break;
        end = prev;
    }
    return std::string(text.substr(size_t(begin), size_t(end - begin)));
}

std::string trimWhitespace(std::string_view text) {
    return trimWith(text, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; });
}

std::string trimSpacesTabs(std::string_view text) {
    return trimWith(text, [](UChar32 c) { return c == ' ' || c == '\t'; });
}

std::string lowerText(std::string_view text) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(out);
    return out;
}

bool lowersTo(std::string_view text, std::string_view lowered) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) return lowerText(text) == lowered;
    // The root locale lowers ASCII letters as ASCII does and leaves every other ASCII byte.
    return text.size() == lowered.size() && std::equal(text.begin(), text.end(), lowered.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           });
}

}  // namespace corvane
