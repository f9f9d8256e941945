// The chat model: conversations, messages and the history file "chat.json".
#include <QUuid>
#include <algorithm>

#include "app/app_state.h"
#include "base/whole_files.h"
#include "storage/team_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr size_t kMaxMessages = 300;  // per conversation, and in the history file
constexpr size_t kMaxDeviceRows = 1000;  // senders are whoever posts to /api/chat: rows are bounded

const Peer* findPeer(const std::vector<Peer>& peers, const std::string& id) {
    for (const Peer& peer : peers) {
        if (peer.id == id) return &peer;
    }
    return nullptr;
}

ChatConv newConversation(const std::string& id, const Peer* peer) {
    ChatConv conv;
    conv.id = id;
    conv.tint = tintFor(id);
    conv.online = peer != nullptr;
    if (id == "all") {
        conv.title = "全员频道";
        conv.sub = "办公室所有人";
        conv.isGroup = true;
        conv.icon = "person.3.fill";
        conv.lastText = "还没有消息";
    } else {
        conv.title = peer ? peer->name : "设备";
        conv.sub = peer ? "在线 · 点对点" : "离线";
        conv.icon = peer ? peer->platformIcon() : "desktopcomputer";
        conv.lastText = "点这里开始对话";
    }
    return conv;
}

// One entry of the history file, read leniently.
std::pair<std::string, ChatMsg> storedMessage(const nlohmann::json& d) {
    const auto text = [&d](const char* key) {
        const auto it = d.find(key);
        return (it != d.end() && it->is_string()) ? it->get<std::string>() : std::string();
    };
    ChatMsg msg;
    msg.to = text("to");
    msg.from = text("from");
    const auto mine = d.find("mine");
    msg.mine = mine != d.end() && mine->is_boolean() && mine->get<bool>();
    const auto id = d.find("id");
    msg.id = (id != d.end() && id->is_string()) ? id->get<std::string>()
                                                 : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    msg.fromName = text("fromName");
    const auto ts = d.find("ts");
    msg.ts = (ts != d.end() && ts->is_number()) ? ts->get<double>() : 0;
    msg.text = text("text");
    const std::string key = msg.to == "all" ? "all" : (msg.mine ? msg.to : msg.from);
    return {key, msg};
}

// Marks the first message with the id (one of this device's read-once messages
// when ownOnly) as burned and says so in its conversation's row.
void burnChatMessage(AppState& state, const std::string& id, bool ownOnly) {
    for (const auto& [key, list] : state.chatMsgs()) {
        const auto it = std::find_if(list.begin(), list.end(), [&](const ChatMsg& m) {
            return m.id == id && (!ownOnly || (m.mine && m.burn));
        });
        if (it == list.end()) continue;
        const std::string conversation = key;  // the map is replaced below
        auto msgs = state.chatMsgs();
        msgs[conversation][size_t(it - list.begin())].burned = true;
        state.setChatMsgs(std::move(msgs));
        std::vector<ChatConv> convs = state.chatConvs();
        for (ChatConv& conv : convs) {
            if (conv.id != conversation) continue;
            conv.lastText = "🔥 这条消息已阅后即焚";
            state.setChatConvs(std::move(convs));
            break;
        }
        return;
    }
}

}  // namespace

int AppState::ensureConv(const std::string& id) {
    for (size_t i = 0; i < chatConvs_.size(); ++i) {
        if (chatConvs_[i].id == id) return int(i);
    }
    if (id != "all") makeRoomForChatRow(id);
    std::vector<ChatConv> convs = chatConvs_;
    convs.push_back(newConversation(id, findPeer(peers_, id)));
    setChatConvs(std::move(convs));
    if (!chatMsgs_.count(id)) {
        auto msgs = chatMsgs_;
        msgs[id] = {};
        setChatMsgs(std::move(msgs));
    }
    return int(chatConvs_.size() - 1);
}

void AppState::makeRoomForChatRow(const std::string& keep) {
    const size_t deviceRows = size_t(std::count_if(chatConvs_.begin(), chatConvs_.end(),
                                                   [](const ChatConv& c) { return !c.isGroup; }));
    if (deviceRows < kMaxDeviceRows) return;
    // The row to drop: an offline device's, one without messages first, then the quietest.
    const auto hasMessages = [this](const std::string& id) {
        const auto it = chatMsgs_.find(id);
        return it != chatMsgs_.end() && !it->second.empty();
    };
    std::optional<size_t> victim;
    for (size_t i = 0; i < chatConvs_.size(); ++i) {
        const ChatConv& c = chatConvs_[i];
        if (c.isGroup || c.online || c.id == keep || c.id == chatCurrent_) continue;
        if (!victim) {
            victim = i;
            continue;
        }
        const ChatConv& best = chatConvs_[*victim];
        const bool busier = hasMessages(best.id);
        if (busier != hasMessages(c.id) ? busier : c.lastTs <= best.lastTs) victim = i;
    }
    if (!victim) return;
    const std::string id = chatConvs_[*victim].id;
    std::vector<ChatConv> convs = chatConvs_;
    convs.erase(convs.begin() + std::ptrdiff_t(*victim));
    setChatConvs(std::move(convs));
    auto msgs = chatMsgs_;
    msgs.erase(id);
    setChatMsgs(std::move(msgs));
}

void AppState::syncChatPeers() {
    ensureConv("all");
    for (const Peer& peer : peers_) {
        const int i = ensureConv(peer.id);
        std::vector<ChatConv> convs = chatConvs_;
        convs[size_t(i)].title = peer.name;
        convs[size_t(i)].sub = "在线 · 点对点";
        convs[size_t(i)].icon = peer.platformIcon();
        convs[size_t(i)].online = true;
        setChatConvs(std::move(convs));
    }
    std::vector<ChatConv> convs = chatConvs_;
    for (ChatConv& conv : convs) {
        if (conv.isGroup || findPeer(peers_, conv.id)) continue;
        conv.online = false;
        conv.sub = "离线";
    }
    setChatConvs(std::move(convs));
    sortChatConvs();
}

void AppState::sortChatConvs() {
    std::vector<ChatConv> sorted = chatConvs_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const ChatConv& a, const ChatConv& b) {
        if (a.isGroup != b.isGroup) return a.isGroup;
        return a.lastTs > b.lastTs;
    });
    const bool sameOrder = std::equal(sorted.begin(), sorted.end(), chatConvs_.begin(), chatConvs_.end(),
                                      [](const ChatConv& a, const ChatConv& b) { return a.id == b.id; });
    if (!sameOrder) setChatConvs(std::move(sorted));
}

void AppState::appendChat(const std::string& key, const ChatMsg& msg, bool silent) {
    auto msgs = chatMsgs_;
    std::vector<ChatMsg>& list = msgs[key];
    for (const ChatMsg& existing : list) {
        if (existing.id == msg.id) return;
    }
    list.push_back(msg);
    if (list.size() > kMaxMessages) list.erase(list.begin(), list.end() - kMaxMessages);
    setChatMsgs(std::move(msgs));

    const size_t i = size_t(ensureConv(key));
    std::vector<ChatConv> convs = chatConvs_;
    convs[i].lastText = chatPreview(msg);
    convs[i].lastTime = msg.timeText();
    convs[i].lastTs = msg.ts;
    if (!silent && !msg.mine && chatCurrent_ != key) convs[i].unread += 1;
    setChatConvs(std::move(convs));
    if (!silent) sortChatConvs();
}

void AppState::markChatBurned(const std::string& id) { burnChatMessage(*this, id, false); }

void AppState::markOwnChatBurned(const std::string& id) { burnChatMessage(*this, id, true); }

void AppState::loadChat() {
    const FileRead file = readWholeFile(env_.appSupport / "chat.json");
    // A history that exists but cannot be read now is never overwritten in this run.
    chatLoaded_ = chatLoaded_ || file.readable || !file.present;
    if (!file.readable) return;
    const nlohmann::json doc = nlohmann::json::parse(file.bytes, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return;
    const auto msgs = doc.find("msgs");
    if (msgs == doc.end() || !msgs->is_array()) return;
    for (const nlohmann::json& d : *msgs) {
        if (!d.is_object()) continue;  // one damaged entry does not cost the rest
        const auto [key, msg] = storedMessage(d);
        appendChat(key, msg, true);
    }
    sortChatConvs();
}

void AppState::persistChat() {
    // Written only after the history was read: otherwise a send would replace it.
    if (!chatLoaded_) return;
    std::vector<nlohmann::json> stored;
    for (const auto& [key, list] : chatMsgs_) {
        for (const ChatMsg& msg : list) {
            if (msg.burn) continue;
            stored.push_back(msg.toStored());
        }
    }
    if (stored.size() > kMaxMessages) {
        std::stable_sort(stored.begin(), stored.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
            return a["ts"].get<double>() < b["ts"].get<double>();
        });
        stored.erase(stored.begin(), stored.end() - kMaxMessages);
    }
    std::error_code ec;
    fs::create_directories(env_.appSupport, ec);
    const nlohmann::json doc = {{"msgs", stored}};
    writeWholeFile(env_.appSupport / "chat.json",
                        doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace corvane
