#include <gtest/gtest.h>

#include <set>

#include "engine/sending/file_id.h"

namespace corvane {
namespace {

TEST(FileID, MatchesTheWorkedValues) {
    EXPECT_EQ(FileID::hash("abc", 3, 0, ""), "fed83e562a0abfa3");
    EXPECT_EQ(FileID::hash("selftest.bin", 3000000, 0, "selftest.bin"), "47ca0d824252d3e5");
}

TEST(FileID, TruncatesTheModificationTimeTowardZero) {
    EXPECT_EQ(FileID::hash("abc", 3, 0.9, ""), "fed83e562a0abfa3");
    EXPECT_EQ(FileID::hash("abc", 3, -0.9, ""), "fed83e562a0abfa3");
    EXPECT_EQ(FileID::hash("a", 1, 1712345678901.99, "r"), FileID::hash("a", 1, 1712345678901.0, "r"));
    EXPECT_EQ(FileID::hash("a", 1, -5.7, "r"), FileID::hashUnits(u"a|1|-5|r"));
}

TEST(FileID, SameFileGivesSameIDAndAnyChangedFieldAnother) {
    const std::string base = FileID::hash("photo.jpg", 5000, 1700000000000.0, "Photos/photo.jpg");
    EXPECT_EQ(FileID::hash("photo.jpg", 5000, 1700000000000.0, "Photos/photo.jpg"), base);
    const std::set<std::string> others{
        FileID::hash("photo2.jpg", 5000, 1700000000000.0, "Photos/photo.jpg"),
        FileID::hash("photo.jpg", 5001, 1700000000000.0, "Photos/photo.jpg"),
        FileID::hash("photo.jpg", 5000, 1700000001000.0, "Photos/photo.jpg"),
        FileID::hash("photo.jpg", 5000, 1700000000000.0, "photo.jpg"),
    };
    EXPECT_EQ(others.size(), 4u);
    EXPECT_EQ(others.count(base), 0u);
}

TEST(FileID, HashesUTF16CodeUnitsNotBytes) {
    // "é" is one UTF-16 unit (two UTF-8 bytes); an emoji is a surrogate pair.
    EXPECT_EQ(FileID::hash("é", 2, 0, ""), FileID::hashUnits(u"é|2|0|"));
    EXPECT_EQ(FileID::hash("😀.png", 4, 0, "相册/😀.png"), FileID::hashUnits(u"😀.png|4|0|相册/😀.png"));
    EXPECT_NE(FileID::hash("é", 2, 0, ""), FileID::hashUnits(u"\u00c3\u00a9|2|0|"));
}

}  // namespace
}  // namespace corvane
