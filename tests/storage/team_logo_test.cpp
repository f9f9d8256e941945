// The team logo.

#include <gtest/gtest.h>

#include "team_test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using TeamLogo = TeamStoreTest;

std::string png(size_t size) {
    std::string bytes(size, 'x');
    bytes.replace(0, 4, "\x89PNG");
    return bytes;
}

TEST_F(TeamLogo, AcceptsUpTo1500000BytesWithMode0644AndKeepsTheOldLogoOtherwise) {
    ASSERT_EQ(refusalOf(store.saveLogo(png(1500000))), std::nullopt);
    EXPECT_EQ(readFile(teamFile("logo.img")), png(1500000));
    EXPECT_EQ(fileMode(teamFile("logo.img")), 0644u);
    EXPECT_EQ(refusalOf(store.saveLogo(png(1500001))), "图片太大了（限 1.5MB）");
    EXPECT_EQ(refusalOf(store.saveLogo("")), "图片是空的");
    EXPECT_EQ(readFile(teamFile("logo.img")).size(), 1500000u);
}

TEST_F(TeamLogo, AcceptsOnlyTheFourImageSignatures) {
    const std::string webp = std::string("RIFF\x01\x02\x03\x04", 8) + "WEBPVP8 ";
    const std::vector<std::pair<std::string, bool>> cases = {
        {png(20), true}, {std::string("\xFF\xD8\xFF\xE0", 4) + "JFIF", true}, {"GIF89a;", true}, {webp, true},
        {"12345678WEBP!", true},   // 13 bytes, anything before "WEBP"
        {"12345678WEBP", false},   // 12 bytes are too few
        {"BM6\x0c\x00\x00\x00\x00", false}, {"<svg></svg>", false}, {"\x89PN", false},
    };
    for (const auto& [bytes, accepted] : cases) {
        const auto result = refusalOf(store.saveLogo(bytes));
        EXPECT_EQ(!result, accepted) << bytes;
        if (!accepted) {
            EXPECT_EQ(result, "只支持 PNG / JPG / GIF / WebP") << bytes;
        }
    }
}

}  // namespace
}  // namespace corvane::test
