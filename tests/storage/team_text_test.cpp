// Trimming and case folding of names, addresses and codes.

#include <gtest/gtest.h>

#include "storage/team_text.h"

namespace corvane {
namespace {

TEST(TrimWhitespace, RemovesUnicodeSpacesAndLineBreaksAtBothEnds) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  alice  ", "alice"},
        {"\t\r\nalice\n", "alice"},
        {"\u3000alice\u00a0", "alice"},          // ideographic and no-break space
        {"\u2028a b\u2029", "a b"},              // line and paragraph separators
        {"a  b", "a  b"},                        // inner spaces stay
        {"   ", ""},
        {"", ""},
        {"\xff alice ", "\xff alice"},           // stops at bytes that are not UTF-8
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trimWhitespace(in), out) << in;
}

TEST(TrimSpacesTabs, KeepsLineBreaks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" \talice\t ", "alice"},
        {"alice\n", "alice\n"},
        {"\nalice", "\nalice"},
        {"\u3000alice", "\u3000alice"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trimSpacesTabs(in), out) << in;
}

TEST(LowerText, FoldsAllScriptsIndependentOfLocale) {
    EXPECT_EQ(lowerText("AdMin"), "admin");
    EXPECT_EQ(lowerText("ÄÖÜ"), "äöü");
    EXPECT_EQ(lowerText("ΑΒΓ"), "αβγ");
    EXPECT_EQ(lowerText("张三"), "张三");
    EXPECT_EQ(lowerText("I"), "i");  // no Turkish dotless i
}

}  // namespace
}  // namespace corvane
