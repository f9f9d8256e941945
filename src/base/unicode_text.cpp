#include "base/unicode_text.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace corvane {

namespace {

// A character iterator per thread, made once: making one loads its rules, which costs
// far more than the count. Each use sets its text first.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    return it.get();
}

// A collator per thread: ICU collators are not safe to share across threads.
icu::Collator* threadCollator() {
    thread_local std::unique_ptr<icu::Collator> coll = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) return std::unique_ptr<icu::Collator>();
        c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        c->setStrength(icu::Collator::SECONDARY);  // case-insensitive
        return c;
    }();
    return coll.get();
}

}  // namespace

bool isValidUTF8(std::string_view bytes) {
    int32_t i = 0;
    const int32_t len = int32_t(bytes.size());
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if (c < 0) return false;
    }
    return true;
}

size_t graphemeCount(std::string_view utf8) {
    if (utf8.empty()) return 0;
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    icu::BreakIterator* it = characterIterator();
    if (!it) return size_t(text.countChar32());
    it->setText(text);
    size_t count = 0;
    it->first();
    while (it->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

std::string graphemePrefix(std::string_view utf8, size_t n) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    icu::BreakIterator* it = characterIterator();
    if (!it) return std::string(utf8);
    it->setText(text);
    int32_t end = it->first();
    for (size_t k = 0; k < n; ++k) {
        const int32_t next = it->next();
        if (next == icu::BreakIterator::DONE) break;
        end = next;
    }
    std::string out;
    text.tempSubString(0, end).toUTF8String(out);
    return out;
}

std::string graphemePrefixBytes(std::string_view utf8, size_t maxBytes) {
    if (utf8.size() <= maxBytes) return std::string(utf8);
    UErrorCode status = U_ZERO_ERROR;
    // Over the UTF-8 bytes themselves, so that boundaries are byte offsets.
    UText* text = utext_openUTF8(nullptr, utf8.data(), int64_t(utf8.size()), &status);
    icu::BreakIterator* it = characterIterator();
    size_t end = 0;
    if (U_SUCCESS(status) && it) {
        it->setText(text, status);
        for (int32_t at = it->first(); at != icu::BreakIterator::DONE && size_t(at) <= maxBytes; at = it->next()) {
            end = size_t(at);
        }
    }
    utext_close(text);  // the iterator keeps its own handle on the bytes, set anew at its next use
    return std::string(utf8.substr(0, end));
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
    icu::Collator* coll = threadCollator();
    if (!coll) return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    const auto r = coll->compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                     icu::StringPiece(b.data(), int32_t(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::string localizedStandardSortKey(std::string_view utf8) {
    icu::Collator* coll = threadCollator();
    if (!coll) return std::string(utf8);
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    std::string key(64, '\0');
    for (;;) {
        // The length the key needs, its closing zero included.
        const int32_t needed = coll->getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), int32_t(key.size()));
        if (needed <= 0) return std::string(utf8);
        if (size_t(needed) <= key.size()) {
            key.resize(size_t(needed) - 1);
            return key;
        }
        key.resize(size_t(needed));
    }
}

std::vector<size_t> localizedStandardOrder(const std::vector<std::string_view>& texts) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(texts.size());
    for (size_t k = 0; k < texts.size(); ++k) keys.emplace_back(localizedStandardSortKey(texts[k]), k);
    std::sort(keys.begin(), keys.end());  // equal keys keep the given order by their index
    std::vector<size_t> order;
    order.reserve(keys.size());
    for (const auto& key : keys) order.push_back(key.second);
    return order;
}

}  // namespace corvane
