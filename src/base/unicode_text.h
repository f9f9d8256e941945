#pragma once
// Unicode helpers over ICU: user-perceived character counts and the
// "localized standard" ordering (numeric, case-insensitive).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Number of grapheme clusters in UTF-8 text.
size_t graphemeCount(std::string_view utf8);
// The first n grapheme clusters of UTF-8 text.
std::string graphemePrefix(std::string_view utf8, size_t n);
// The longest prefix that ends on a grapheme boundary and takes at most maxBytes bytes.
std::string graphemePrefixBytes(std::string_view utf8, size_t maxBytes);
// Whether the bytes are valid UTF-8.
bool isValidUTF8(std::string_view bytes);
// Collation order: negative, 0 or positive. Numeric runs compare by value ("9" < "10").
int localizedStandardCompare(std::string_view a, std::string_view b);
inline bool localizedStandardLess(std::string_view a, std::string_view b) {
    return localizedStandardCompare(a, b) < 0;
}
// Bytes whose plain byte order is the order of localizedStandardCompare: long lists
// compute one key per text instead of collating every pair again.
std::string localizedStandardSortKey(std::string_view utf8);
// The indexes of the texts in localized standard order, equal texts in their given order.
std::vector<size_t> localizedStandardOrder(const std::vector<std::string_view>& texts);

}  // namespace corvane
