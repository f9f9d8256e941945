// The chat model: conversations, messages and the history file "chat.json".
#include <QPointer>
#include <QUuid>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

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

// An online device's row: its current name and platform.
void showPeerInRow(ChatConv& conv, const Peer& peer) {
    conv.title = peer.name;
    conv.sub = "在线 · 点对点";
    conv.icon = peer.platformIcon();
    conv.online = true;
}

// The group first, then the newest message first; equals keep their order.
void sortByRecency(std::vector<ChatConv>& convs) {
    std::stable_sort(convs.begin(), convs.end(), [](const ChatConv& a, const ChatConv& b) {
        if (a.isGroup != b.isGroup) return a.isGroup;
        return a.lastTs > b.lastTs;
    });
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

// The history file's messages by conversation, in file order, each id once per
// conversation; damaged entries are skipped. Runs on any thread.
ChatHistory readChatHistory(const fs::path& path) {
    ChatHistory history;
    const FileRead file = readWholeFile(path);
    history.present = file.present;
    history.readable = file.readable;
    if (!file.readable) return history;
    const nlohmann::json doc = nlohmann::json::parse(file.bytes, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return history;
    const auto msgs = doc.find("msgs");
    if (msgs == doc.end() || !msgs->is_array()) return history;
    std::unordered_map<std::string, std::unordered_set<std::string>> ids;
    for (const nlohmann::json& d : *msgs) {
        if (!d.is_object()) continue;  // one damaged entry does not cost the rest
        auto [key, msg] = storedMessage(d);
        if (ids[key].insert(msg.id).second) history.messages[key].push_back(std::move(msg));
    }
    return history;
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
    std::vector<ChatConv> convs = chatConvs_;
    auto msgs = std::move(chatMsgs_);  // moved back below: the history is never copied here
    const bool msgsChanged = addChatRows(convs, msgs, {id});
    chatMsgs_ = std::move(msgs);
    setChatConvs(std::move(convs));
    if (msgsChanged) Q_EMIT chatMsgsChanged();
    return int(chatConvs_.size() - 1);
}

void AppState::syncChatPeers() {
    // One pass over the rows and the peers, however many: the new list is built aside and
    // published once, and not at all when nothing in it changed.
    std::vector<ChatConv> convs = chatConvs_;
    std::unordered_map<std::string, const Peer*> online;
    for (const Peer& peer : peers_) online.emplace(peer.id, &peer);
    std::unordered_set<std::string> listed;
    for (ChatConv& conv : convs) {
        listed.insert(conv.id);
        if (conv.isGroup) continue;
        const auto peer = online.find(conv.id);
        if (peer == online.end()) {
            conv.online = false;
            conv.sub = "离线";
        } else {
            showPeerInRow(conv, *peer->second);
        }
    }
    std::vector<std::string> added;
    if (!listed.count("all")) added.push_back("all");
    for (const Peer& peer : peers_) {
        if (listed.insert(peer.id).second) added.push_back(peer.id);
    }
    auto msgs = std::move(chatMsgs_);  // moved back below: the history is never copied here
    const bool msgsChanged = addChatRows(convs, msgs, added);
    chatMsgs_ = std::move(msgs);
    sortByRecency(convs);
    if (msgsChanged) Q_EMIT chatMsgsChanged();
    if (convs != chatConvs_) setChatConvs(std::move(convs));
}

bool AppState::addChatRows(std::vector<ChatConv>& convs, std::map<std::string, std::vector<ChatMsg>>& msgs,
                           const std::vector<std::string>& ids) const {
    if (ids.empty()) return false;
    const size_t newDevices = size_t(std::count_if(ids.begin(), ids.end(), [](const std::string& id) { return id != "all"; }));
    const size_t dropped = dropQuietChatRows(convs, msgs, newDevices);
    std::unordered_map<std::string, const Peer*> online;
    for (const Peer& peer : peers_) online.emplace(peer.id, &peer);
    bool msgsChanged = dropped > 0;
    for (const std::string& id : ids) {
        const auto peer = online.find(id);
        convs.push_back(newConversation(id, peer == online.end() ? nullptr : peer->second));
        if (peer != online.end()) showPeerInRow(convs.back(), *peer->second);
        msgsChanged = msgs.try_emplace(id).second || msgsChanged;
    }
    return msgsChanged;
}

size_t AppState::dropQuietChatRows(std::vector<ChatConv>& convs, std::map<std::string, std::vector<ChatMsg>>& msgs,
                                   size_t coming) const {
    const size_t deviceRows = size_t(std::count_if(convs.begin(), convs.end(), [](const ChatConv& c) { return !c.isGroup; }));
    if (deviceRows + coming <= kMaxDeviceRows) return 0;
    const size_t excess = deviceRows + coming - kMaxDeviceRows;
    // The rows to drop: offline devices' rows, those without messages first, then the quietest.
    const auto hasMessages = [&msgs](const std::string& id) {
        const auto it = msgs.find(id);
        return it != msgs.end() && !it->second.empty();
    };
    std::vector<size_t> candidates;
    for (size_t i = 0; i < convs.size(); ++i) {
        const ChatConv& c = convs[i];
        if (!c.isGroup && !c.online && c.id != chatCurrent_) candidates.push_back(i);
    }
    // Of equals the later row goes first, as one row at a time always chose.
    std::stable_sort(candidates.begin(), candidates.end(), [&](size_t a, size_t b) {
        const bool busyA = hasMessages(convs[a].id);
        const bool busyB = hasMessages(convs[b].id);
        if (busyA != busyB) return !busyA;
        if (convs[a].lastTs != convs[b].lastTs) return convs[a].lastTs < convs[b].lastTs;
        return a > b;
    });
    candidates.resize(std::min(excess, candidates.size()));
    std::unordered_set<size_t> gone(candidates.begin(), candidates.end());
    std::vector<ChatConv> kept;
    kept.reserve(convs.size());
    for (size_t i = 0; i < convs.size(); ++i) {
        if (gone.count(i)) {
            msgs.erase(convs[i].id);
        } else {
            kept.push_back(std::move(convs[i]));
        }
    }
    convs = std::move(kept);
    return gone.size();
}

void AppState::sortChatConvs() {
    std::vector<ChatConv> sorted = chatConvs_;
    sortByRecency(sorted);
    const bool sameOrder = std::equal(sorted.begin(), sorted.end(), chatConvs_.begin(), chatConvs_.end(),
                                      [](const ChatConv& a, const ChatConv& b) { return a.id == b.id; });
    if (!sameOrder) setChatConvs(std::move(sorted));
}

void AppState::appendChat(const std::string& key, const ChatMsg& msg, bool silent) {
    const auto conversation = chatMsgs_.find(key);
    if (conversation != chatMsgs_.end() &&
        std::any_of(conversation->second.begin(), conversation->second.end(),
                    [&msg](const ChatMsg& existing) { return existing.id == msg.id; })) {
        return;
    }
    // Changed in place and announced: every conversation's history is never copied per message.
    std::vector<ChatMsg>& list = chatMsgs_[key];
    list.push_back(msg);
    if (list.size() > kMaxMessages) list.erase(list.begin(), list.end() - kMaxMessages);
    Q_EMIT chatMsgsChanged();

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
    // The file is read and parsed on a worker, so a long history never holds the start;
    // its messages then join their conversations in one step.
    chatHistoryLoading_ = true;
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, file = env_.appSupport / "chat.json"] {
        ChatHistory history = readChatHistory(file);
        queue->post([self, history = std::move(history)]() mutable {
            if (self) self->takeChatHistory(std::move(history));
        });
    });
}

void AppState::takeChatHistory(ChatHistory history) {
    chatHistoryLoading_ = false;
    // A history that exists but cannot be read now is never overwritten in this run.
    chatLoaded_ = chatLoaded_ || history.readable || !history.present;
    // What was cleared or arrived while the file was read is written with the rest.
    bool changedMeanwhile = !chatClearedWhileLoading_.empty();
    for (const std::string& id : chatClearedWhileLoading_) history.messages.erase(id);
    chatClearedWhileLoading_.clear();
    for (const auto& [key, list] : chatMsgs_) changedMeanwhile = changedMeanwhile || !list.empty();
    if (history.messages.empty()) {
        if (changedMeanwhile) persistChat();
        return;
    }

    std::vector<ChatConv> convs = chatConvs_;
    std::unordered_set<std::string> rows;
    for (const ChatConv& conv : convs) rows.insert(conv.id);
    std::vector<std::string> added;
    for (const auto& [key, list] : history.messages) {
        if (rows.insert(key).second) added.push_back(key);
    }
    auto msgs = std::move(chatMsgs_);  // moved back below: the history is never copied here
    addChatRows(convs, msgs, added);
    for (ChatConv& conv : convs) {
        const auto loaded = history.messages.find(conv.id);
        if (loaded == history.messages.end()) continue;
        // The stored messages come before those that arrived while the file was read.
        std::vector<ChatMsg>& list = msgs[conv.id];
        const bool keepsItsLast = !list.empty();
        std::unordered_set<std::string> ids;
        for (const ChatMsg& msg : loaded->second) ids.insert(msg.id);
        for (ChatMsg& msg : list) {
            if (ids.insert(msg.id).second) loaded->second.push_back(std::move(msg));
        }
        list = std::move(loaded->second);
        if (list.size() > kMaxMessages) list.erase(list.begin(), list.end() - kMaxMessages);
        if (keepsItsLast) continue;
        const ChatMsg& last = list.back();
        conv.lastText = chatPreview(last);
        conv.lastTime = last.timeText();
        conv.lastTs = last.ts;
    }
    chatMsgs_ = std::move(msgs);
    sortByRecency(convs);
    Q_EMIT chatMsgsChanged();
    setChatConvs(std::move(convs));
    if (changedMeanwhile) persistChat();
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
