#pragma once
// Counts the sheets show of texts: characters as a person sees them, lines as
// the platform's newline set splits them, bytes, the blank trim of names typed
// in the settings and a progress fraction as a whole percent. Numbers are
// written in plain decimal digits, never through the locale.

#include <cstdint>
#include <string>
#include <string_view>

#include <QString>

namespace corvane {

// Grapheme clusters: a Chinese character, an emoji or "\r\n" counts 1.
int64_t characterCount(std::string_view utf8);
// 1 + the characters U+000A to U+000D, U+0085, U+2028 and U+2029 ("\r\n" counts 2).
int64_t lineCount(std::string_view utf8);
// The text without space separators (Zs, U+3000 included) and tabs at both ends; line breaks stay.
QString trimSpaceSeparators(const QString& text);
// fraction × 100 with the fraction dropped (0.29 gives 28, 1 gives 100).
int64_t wholePercent(double fraction);

// "c 字 · l 行" of a text being written.
QString counterText(std::string_view utf8);
// "l 行 · b 字节" of a received note.
QString sizeLineText(std::string_view utf8);

}  // namespace corvane
