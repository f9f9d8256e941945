#pragma once
// Plain value types passed between the engine and the application state.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane {

// A reachable device: shown in the device list and used as a send target.
struct Peer {
    std::string id;
    std::string name;      // local alias when set, else realName
    std::string realName;  // the device's own announced name
    std::string ip;
    int port = 0;
    bool pin = false;      // the device asks for a PIN
    std::string token;
    std::string plat;
    std::string team;
    double lastSeen = 0;   // ms since 1970

    std::string platformIcon() const;
    std::string platformLabel() const;
    bool operator==(const Peer&) const = default;
};

// Where sends and listings go: another device, or this one.
struct Target {
    std::optional<Peer> peer;  // empty means this device

    static Target local() { return {}; }
    static Target of(Peer p) { return Target{std::move(p)}; }
    bool isLocal() const { return !peer.has_value(); }
    bool operator==(const Target&) const = default;
};

// One file of a device's receive folder.
struct FileItem {
    std::string path;  // relative to the receive folder, "/"-joined
    std::string name;
    int64_t size = 0;
    double mtime = 0;  // ms since 1970

    std::string folder() const;
    std::string icon() const;
    nlohmann::json toJSON() const;  // {"p","n","s","t"}
    static FileItem fromJSON(const nlohmann::json& obj);
    bool operator==(const FileItem&) const = default;
};

// What the server tells the application state.
struct ServerEvent {
    enum class Kind { fileReceived, textReceived, burnText, chat, chatBurn, log, teamPending, teamAccounts, teamIdentity, teamMail };
    Kind kind = Kind::log;
    FileItem file;         // fileReceived, textReceived
    std::string id;        // burnText, chat, chatBurn
    std::string text;      // burnText, chat, log
    std::string from;      // burnText, chat
    std::string fromName;  // chat
    std::string to;        // chat
    bool burn = false;     // chat
    double ts = 0;         // chat, ms since 1970

    static ServerEvent fileReceived(FileItem f);
    static ServerEvent textReceived(FileItem f);
    static ServerEvent burnText(std::string id, std::string text, std::string from);
    static ServerEvent chat(std::string id, std::string from, std::string fromName, std::string to,
                            std::string text, bool burn, double ts);
    static ServerEvent chatBurn(std::string id);
    static ServerEvent log(std::string text);
    static ServerEvent teamPending();
    // The team's accounts changed: one registered, was approved, rejected, blocked or
    // restored, or had its address set.
    static ServerEvent teamAccounts();
    // The team's name or logo changed.
    static ServerEvent teamIdentity();
    // The team's mail settings were saved or cleared.
    static ServerEvent teamMail();
    bool operator==(const ServerEvent&) const = default;
};

// A received read-once note on screen.
struct BurnNote {
    std::string id;
    std::string text;
    std::string from;
    std::chrono::system_clock::time_point at;
    bool operator==(const BurnNote&) const = default;
};

// One line of the network diagnostics.
struct DiagLine {
    enum class Level { ok, warn, bad };
    std::string id;  // fresh for each line
    Level level = Level::ok;
    std::string text;
    std::optional<std::string> hint;

    static DiagLine make(Level level, std::string text, std::optional<std::string> hint = std::nullopt);
};

}  // namespace corvane

template <>
struct std::hash<corvane::Peer> {
    size_t operator()(const corvane::Peer& p) const noexcept;
};
template <>
struct std::hash<corvane::Target> {
    size_t operator()(const corvane::Target& t) const noexcept;
};
template <>
struct std::hash<corvane::FileItem> {
    size_t operator()(const corvane::FileItem& f) const noexcept;
};
