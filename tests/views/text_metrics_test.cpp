// The counts the sheets show: characters as grapheme clusters, lines by the
// platform's newline set, bytes, the blank trim of typed names and percent.
#include <gtest/gtest.h>

#include "views/text_metrics.h"

namespace corvane {
namespace {

TEST(TextMetrics, charactersAreGraphemeClustersAndLinesFollowTheNewlineSet) {
    struct Case {
        const char* text;
        int64_t characters;
        int64_t lines;
    };
    const Case cases[] = {
        {"", 0, 1},
        {"ab\nc", 4, 2},
        {"ab\n", 3, 2},            // a trailing line break adds a line
        {"中文", 2, 1},
        {"a\r\nb", 3, 3},          // CR LF: one character, two separators
        {"a\rb\x0b" "c\x0c" "d", 7, 4},  // CR, vertical tab and form feed separate lines
        {"a\xc2\x85" "b", 3, 2},         // U+0085
        {"a\xe2\x80\xa8" "b\xe2\x80\xa9" "c", 5, 3},  // U+2028, U+2029
        {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd", 1, 1},   // an emoji with its skin tone
        {"\xf0\x9f\x87\xa8\xf0\x9f\x87\xb3", 1, 1},   // a flag of two regional indicators
        {"e\xcc\x81", 1, 1},                          // e and a combining accent
        {" \n\t", 3, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(characterCount(c.text), c.characters) << c.text;
        EXPECT_EQ(lineCount(c.text), c.lines) << c.text;
    }
    EXPECT_EQ(counterText("ab\nc"), QString::fromUtf8("4 字 · 2 行"));
    EXPECT_EQ(sizeLineText("秘密\n第二行"), QString::fromUtf8("2 行 · 16 字节"));
    EXPECT_EQ(sizeLineText(""), QString::fromUtf8("1 行 · 0 字节"));
    EXPECT_EQ(sizeLineText("hello"), QString::fromUtf8("1 行 · 5 字节"));
    EXPECT_EQ(sizeLineText("中文"), QString::fromUtf8("1 行 · 6 字节"));
    EXPECT_EQ(sizeLineText("a\n\nb"), QString::fromUtf8("3 行 · 4 字节"));
    EXPECT_EQ(sizeLineText("a\r\nb"), QString::fromUtf8("3 行 · 4 字节"));
}

TEST(TextMetrics, theNameTrimRemovesSpaceSeparatorsAndTabsButNoLineBreaks) {
    const std::pair<const char*, const char*> cases[] = {
        {"  name\t", "name"},
        {"\xe3\x80\x80名字\xe3\x80\x80", "名字"},   // U+3000 ideographic space
        {"\xc2\xa0x\xe2\x80\x83", "x"},             // no-break space, em space
        {"\nname\n", "\nname\n"},                   // line breaks stay
        {" a b ", "a b"},
        {" \t\xe3\x80\x80", ""},
        {"", ""},
    };
    for (const auto& [text, trimmed] : cases) {
        EXPECT_EQ(trimSpaceSeparators(QString::fromUtf8(text)), QString::fromUtf8(trimmed)) << text;
    }
}

TEST(TextMetrics, percentDropsTheFraction) {
    const std::pair<double, int64_t> cases[] = {{0, 0}, {0.29, 28}, {0.426, 42}, {0.999, 99}, {1, 100}, {0.5, 50}};
    for (const auto& [fraction, percent] : cases) EXPECT_EQ(wholePercent(fraction), percent) << fraction;
}

}  // namespace
}  // namespace corvane
