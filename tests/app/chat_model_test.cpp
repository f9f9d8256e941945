// Conversation colours and message previews.
#include <gtest/gtest.h>

#include "app/chat_model.h"

namespace corvane {
namespace {

TEST(TintFor, hashesTheIdIntoThePalette) {
    EXPECT_EQ(tintFor(""), "blue");
    EXPECT_EQ(tintFor("a"), "purple");  // 97 mod 8 = 1
    EXPECT_EQ(tintFor("all"), tintFor("all"));
    EXPECT_EQ(tintFor("b"), "orange");  // 98 mod 8 = 2
    EXPECT_EQ(tintFor("ab"), "purple");  // (97 * 31 + 98) mod 256 = 33, 33 mod 8 = 1
}

TEST(ChatPreview, oneLineOfAtMostTwentyCharactersWithTheSpeaker) {
    ChatMsg msg;
    msg.text = "第一行\n0123456789012345678901";  // 25 characters, a line break among them
    msg.to = "dev";
    EXPECT_EQ(chatPreview(msg), "第一行 0123456789012345…");
    msg.to = "all";
    msg.fromName = "小王";
    EXPECT_EQ(chatPreview(msg), "小王：第一行 0123456789012345…");
    msg.mine = true;
    EXPECT_EQ(chatPreview(msg), "我：第一行 0123456789012345…");
    msg.text = "12345678901234567890";  // exactly 20: shown whole
    msg.mine = false;
    msg.to = "dev";
    EXPECT_EQ(chatPreview(msg), "12345678901234567890");
}

TEST(ChatPreview, aReadOnceMessageNeverShowsItsText) {
    ChatMsg msg;
    msg.text = "secret";
    msg.burn = true;
    msg.to = "dev";
    EXPECT_EQ(chatPreview(msg), "🔥 阅后即焚消息");
}

TEST(ChatMsg, storedFormHasTheSevenKeys) {
    ChatMsg msg{"i", "f", "F", "all", 1234.5, "t", true, true, true, true};
    EXPECT_EQ(msg.toStored(), (nlohmann::json{{"id", "i"}, {"from", "f"}, {"fromName", "F"}, {"to", "all"},
                                              {"ts", 1234.5}, {"text", "t"}, {"mine", true}}));
}

TEST(ChatMsg, timeTextIsHoursAndMinutes) {
    ChatMsg msg;
    msg.ts = 0;
    EXPECT_EQ(msg.timeText().size(), 5u);
    EXPECT_EQ(msg.timeText()[2], ':');
}

}  // namespace
}  // namespace corvane
