// Chat actions: sending to the devices of a conversation, opening and clearing
// conversations, and the values the chat window reads.
#include <QPointer>
#include <algorithm>

#include "app/app_state.h"
#include "base/random_hex.h"
#include "base/unicode_text.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr size_t kMaxChatLength = 4000;  // user-perceived characters

nlohmann::json wireMessage(const ChatMsg& msg) {
    return {{"id", msg.id},     {"from", msg.from}, {"fromName", msg.fromName}, {"to", msg.to},
            {"text", msg.text}, {"burn", msg.burn}, {"ts", msg.ts}};
}

}  // namespace

std::string AppState::newChatId() { return randomHex(9); }

void AppState::sendChat(const std::string& text, bool burn) {
    const std::string trimmed = trimWhitespace(text);
    if (trimmed.empty()) return;
    const std::string key = chatCurrent_;
    ChatMsg msg;
    msg.id = newChatId();
    msg.from = deviceID_;
    msg.fromName = deviceName_;
    msg.to = key;
    msg.ts = env_.clock();
    msg.text = graphemePrefix(trimmed, kMaxChatLength);
    msg.burn = burn;
    msg.mine = true;
    appendChat(key, msg, false);
    if (!burn) persistChat();

    std::vector<APIClient> clients;
    bool anyRecipient = false;
    for (const Peer& peer : peers_) {
        if (key != "all" && peer.id != key) continue;
        anyRecipient = true;
        if (const auto c = client(peer)) clients.push_back(*c);
    }
    if (!anyRecipient) {
        markChatFailed(msg.id, key);
        return;
    }
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, clients, body = wireMessage(msg), id = msg.id, key] {
        int delivered = 0;
        for (const APIClient& c : clients) {
            if (!c.sendChat(body)) ++delivered;  // one after another; a refusal is dropped
        }
        queue->post([self, delivered, id, key] {
            if (self && delivered == 0) self->markChatFailed(id, key);
        });
    });
}

void AppState::markChatFailed(const std::string& id, const std::string& key) {
    const auto conversation = chatMsgs_.find(key);
    if (conversation == chatMsgs_.end()) return;
    const auto& list = conversation->second;
    const auto it = std::find_if(list.begin(), list.end(), [&id](const ChatMsg& m) { return m.id == id; });
    if (it == list.end()) return;
    chatMsgs_[key][size_t(it - list.begin())].failed = true;  // in place: the histories are never copied
    Q_EMIT chatMsgsChanged();
}

void AppState::openChat(const std::string& id) {
    setChatCurrent(id);
    const size_t i = size_t(ensureConv(id));
    std::vector<ChatConv> convs = chatConvs_;
    convs[i].unread = 0;
    setChatConvs(std::move(convs));

    const std::vector<ChatMsg> list = chatMsgsForCurrent();
    for (const ChatMsg& msg : list) {
        if (!msg.burn || msg.burned || msg.mine) continue;
        markChatBurned(msg.id);
        // The sender learns that its message was read, so it burns its copy too.
        const auto sender = std::find_if(peers_.begin(), peers_.end(), [&msg](const Peer& p) { return p.id == msg.from; });
        if (sender == peers_.end()) continue;
        if (const auto c = client(*sender)) workers_.run([c = *c, messageID = msg.id] { c.chatRead(messageID); });
    }
}

void AppState::clearChat(const std::string& id) {
    if (chatHistoryLoading_) chatClearedWhileLoading_.insert(id);  // its stored messages stay away too
    chatMsgs_[id] = {};  // in place: the other histories are never copied
    Q_EMIT chatMsgsChanged();
    std::vector<ChatConv> convs = chatConvs_;
    for (ChatConv& conv : convs) {
        if (conv.id != id) continue;
        conv.lastText = conv.isGroup ? "还没有消息" : "点这里开始对话";
        conv.lastTime.clear();
        conv.lastTs = 0;
        setChatConvs(std::move(convs));
        break;
    }
    persistChat();
}

int AppState::chatUnreadTotal() const {
    int total = 0;
    for (const ChatConv& conv : chatConvs_) total += conv.unread;
    return total;
}

std::vector<ChatMsg> AppState::chatMsgsForCurrent() const {
    const auto it = chatMsgs_.find(chatCurrent_);
    return it == chatMsgs_.end() ? std::vector<ChatMsg>{} : it->second;
}

std::optional<ChatConv> AppState::chatConvForCurrent() const {
    for (const ChatConv& conv : chatConvs_) {
        if (conv.id == chatCurrent_) return conv;
    }
    return std::nullopt;
}

}  // namespace corvane
