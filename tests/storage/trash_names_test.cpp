// Names in the recycle bin, made and read back.

#include <gtest/gtest.h>

#include "storage/trash_names.h"

namespace corvane::test {
namespace {

const std::string kSlash = "\xE2\x88\x95";

TEST(TrashNames, RecordTheStampAndThePathUnlessTheNameWouldPassTwoHundredBytes) {
    int stamps = 0;
    const auto stamp = [&stamps] { return "20250303-14050" + std::to_string(stamps++); };
    EXPECT_EQ(trashNameFor("docs/q3/report.pdf", stamp), "20250303-140500-docs" + kSlash + "q3" + kSlash + "report.pdf");
    // 16 + 184 bytes fit exactly; one more byte, or slashes counted as 3 bytes, do not.
    const std::string fits(184, 'a');
    EXPECT_EQ(trashNameFor(fits, stamp), "20250303-140501-" + fits);
    EXPECT_EQ(trashNameFor("d/" + fits, stamp), "20250303-140503-" + fits);  // a fresh stamp for the fallback
    const std::string cjk = "\xE4\xB8\xAD";  // 3 bytes, one character
    std::string wide;
    for (int i = 0; i < 62; ++i) wide += cjk;  // 186 bytes
    EXPECT_EQ(trashNameFor("x/" + wide, stamp), "20250303-140505-" + wide);
}

TEST(TrashNames, GiveBackTheFormerPathCountingCharactersNotBytes) {
    const std::string accent = "e\xCC\x81";  // one character, three bytes
    const struct {
        std::string name;
        std::string path;
    } cases[] = {
        {"20250303-140509-a" + kSlash + "b.txt", "a/b.txt"},
        {"20250303-140509-x" + kSlash + "y", "x/y"},
        {"20250303-140509-", ""},            // 16 characters
        {"short", "short"},                  // 15 or fewer are kept whole
        {"123456789012345", "123456789012345"},
        {std::string(15, '1') + accent + "rest", "rest"},  // the 16th character is the accented e
    };
    for (const auto& c : cases) EXPECT_EQ(sourcePathOf(c.name), c.path) << c.name;
}

TEST(TrashNames, AcceptClientNamesUpToTwoHundredCharacters) {
    std::string of200;
    for (int i = 0; i < 200; ++i) of200 += "e\xCC\x81";
    const struct {
        std::string name;
        bool accepted;
    } cases[] = {
        {"", false}, {".hidden", false}, {"a/b", false}, {of200, true}, {of200 + "x", false},
        {std::string(16, 'x'), true}, {"20250303-140509-a" + kSlash + "b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(trashEntryAccepted(c.name), c.accepted) << c.name;
}

}  // namespace
}  // namespace corvane::test
