// Team name and logo.

#include <gtest/gtest.h>

#include "team_test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using TeamLogo = TeamStoreTest;
using TeamName = TeamStoreTest;

std::string png(size_t size) {
    std::string bytes(size, 'x');
    bytes.replace(0, 4, "\x89PNG");
    return bytes;
}

TEST_F(TeamLogo, AcceptsUpTo1500000BytesAndKeepsTheOldLogoOtherwise) {
    ASSERT_EQ(store.saveLogo(png(1500000)), std::nullopt);
    EXPECT_EQ(readFile(teamFile("logo.img")), png(1500000));
    EXPECT_EQ(store.saveLogo(png(1500001)), "图片太大了（限 1.5MB）");
    EXPECT_EQ(store.saveLogo(""), "图片是空的");
    EXPECT_EQ(readFile(teamFile("logo.img")).size(), 1500000u);
}

TEST_F(TeamLogo, AcceptsOnlyTheFourImageSignatures) {
    const std::string webp = std::string("RIFF\x01\x02\x03\x04", 8) + "WEBPVP8 ";
    const std::vector<std::pair<std::string, bool>> cases = {
        {png(20), true},
        {std::string("\xFF\xD8\xFF\xE0", 4) + "JFIF", true},
        {"GIF89a;", true},
        {webp, true},
        {"12345678WEBP!", true},   // 13 bytes, anything before "WEBP"
        {"12345678WEBP", false},   // 12 bytes are too few
        {"BM6\x0c\x00\x00\x00\x00", false},
        {"<svg></svg>", false},
        {"\x89PN", false},
    };
    for (const auto& [bytes, accepted] : cases) {
        const auto result = store.saveLogo(bytes);
        EXPECT_EQ(!result, accepted) << bytes;
        if (!accepted) {
            EXPECT_EQ(result, "只支持 PNG / JPG / GIF / WebP") << bytes;
        }
    }
}

TEST_F(TeamLogo, IsStoredByteForByteWithMode0644) {
    const std::string bytes = std::string("\xFF\xD8", 2) + std::string("\0\1\2\3", 4);
    ASSERT_EQ(store.saveLogo(bytes), std::nullopt);
    EXPECT_EQ(readFile(teamFile("logo.img")), bytes);
    EXPECT_EQ(fileMode(teamFile("logo.img")), 0644u);
}

TEST_F(TeamLogo, StampAndPresenceFollowTheFile) {
    EXPECT_FALSE(store.hasLogo());
    EXPECT_EQ(store.logoStamp(), 0);
    ASSERT_EQ(store.saveLogo("GIF89a-logo"), std::nullopt);
    EXPECT_TRUE(store.hasLogo());
    const auto mtime = fs::last_write_time(teamFile("logo.img"));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(mtime).time_since_epoch());
    EXPECT_EQ(store.logoStamp(), seconds.count());
    fs::last_write_time(teamFile("logo.img"), std::chrono::file_clock::from_sys(
                                                  std::chrono::sys_seconds(std::chrono::seconds(1600000000))));
    EXPECT_EQ(store.logoStamp(), 1600000000);

    store.clearLogo();
    EXPECT_FALSE(store.hasLogo());
    EXPECT_EQ(store.logoStamp(), 0);
    store.clearLogo();  // nothing to clear is no error
    EXPECT_FALSE(store.hasLogo());
}

TEST_F(TeamLogo, AFailedWriteSaysSoAndKeepsTheOldLogo) {
    ASSERT_EQ(store.saveLogo("GIF89a-old"), std::nullopt);
    // A folder standing where the temporary file would go cannot be written over.
    fs::remove(teamFile("logo.img"));
    fs::create_directories(teamFile("logo.img") / "inside");
    EXPECT_EQ(store.saveLogo("GIF89a-new"), "保存失败");
    EXPECT_TRUE(fs::is_directory(teamFile("logo.img") / "inside"));
}

TEST_F(TeamName, IsStoredAsGivenAndSavedWithTheAccounts) {
    for (const std::string& name : std::vector<std::string>{"", "  spaced  ", std::string(200, 'n'), "团队"}) {
        store.setTeamName(name);
        EXPECT_EQ(store.teamName(), name);
        EXPECT_EQ(readJSON("accounts.json")["team"], name);
    }
}

TEST_F(TeamName, TheShellsOwnRenamePathEndsInTheSameState) {
    ASSERT_TRUE(store.createAdmin("Boss", "admin-pass", "Old"));
    {
        std::lock_guard hold(store.lock());
        store.cachedTeamNameLocked() = "Renamed";
        store.saveUsersLocked();
    }
    EXPECT_EQ(store.teamName(), "Renamed");
    reload();
    EXPECT_EQ(store.teamName(), "Renamed");
    EXPECT_EQ(store.allUsers().size(), 1u);
}

}  // namespace
}  // namespace corvane::test
