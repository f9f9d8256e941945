// The preview of a message in the conversation list.
#include <gtest/gtest.h>

#include "app/chat_model.h"

namespace corvane {
namespace {

TEST(ChatPreview, oneLineOfAtMostTwentyCharactersWithTheSpeakerAndNeverAReadOnceText) {
    struct Case {
        std::string text, to, fromName;
        bool mine, burn;
        std::string preview;
    };
    const std::string long25 = "第一行\n0123456789012345678901";  // 25 characters, a line break among them
    const Case cases[] = {
        {long25, "dev", "小王", false, false, "第一行 0123456789012345…"},
        {long25, "all", "小王", false, false, "小王：第一行 0123456789012345…"},
        {long25, "all", "小王", true, false, "我：第一行 0123456789012345…"},
        {"12345678901234567890", "dev", "", false, false, "12345678901234567890"},  // exactly 20: whole
        {"secret", "dev", "", false, true, "🔥 阅后即焚消息"},
    };
    for (const Case& c : cases) {
        ChatMsg msg;
        msg.text = c.text;
        msg.to = c.to;
        msg.fromName = c.fromName;
        msg.mine = c.mine;
        msg.burn = c.burn;
        EXPECT_EQ(chatPreview(msg), c.preview) << c.text << " to " << c.to << " mine " << c.mine;
    }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(ChatTime, TimeStampsFarOutsideTheCalendarStillGiveAText) {
    // A peer's "ts" of 1e300 once overflowed the conversion to whole milliseconds.
    for (const double ts : {1e300, -1e300, 8.64e15 + 1, 0.0}) {
        ChatMsg msg;
        msg.ts = ts;
        EXPECT_EQ(msg.timeText().size(), 5u) << ts;  // "HH:mm"
    }
}

}  // namespace
}  // namespace corvane
