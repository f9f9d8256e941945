#pragma once
// Chat messages and conversation rows as the application state keeps them.

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

struct ChatMsg {
    std::string id;
    std::string from;      // sender's device id
    std::string fromName;  // sender's device name at sending time
    std::string to;        // "all", or the receiving device's id
    double ts = 0;         // ms since 1970
    std::string text;
    bool burn = false;     // read-once
    bool mine = false;
    bool burned = false;
    bool failed = false;

    // "HH:mm" in local time.
    std::string timeText() const;
    // The seven keys of "chat.json".
    nlohmann::json toStored() const;
    bool operator==(const ChatMsg&) const = default;
};

// One row of the conversation list: "all" for the group, else a device id.
struct ChatConv {
    std::string id;
    std::string title;
    std::string sub;
    bool isGroup = false;
    std::string icon;
    std::string tint;  // a palette name: blue, purple, orange, green, pink, teal, indigo, red
    int unread = 0;
    std::string lastText;
    std::string lastTime;
    double lastTs = 0;
    bool online = false;
    bool operator==(const ChatConv&) const = default;
};

// What "chat.json" gave: whether it was there and could be read, and its messages by
// conversation in file order.
struct ChatHistory {
    bool present = false;
    bool readable = false;
    std::map<std::string, std::vector<ChatMsg>> messages;
};

// The accent colour of a conversation: a palette name chosen from a hash of the id.
std::string tintFor(const std::string& id);

// The preview of a message for its row: one line, at most 20 characters and "…",
// with "我：" or the sender's name in front where it helps.
std::string chatPreview(const ChatMsg& msg);

}  // namespace corvane
