// Texts and read-once notes: the default recipients, sending to several devices
// one after another, and the read-once notes this device received.
#include <QPointer>
#include <algorithm>

#include "app/app_state.h"
#include "base/text_util.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

// One recipient of a text, resolved when the send starts.
struct TextRecipient {
    std::optional<APIClient> client;  // none: counts as a failure
    std::string name;                 // shown in the success toast
    bool local = false;
    std::string linkBase;             // "http://<ip>:<port>/b/" of a peer
};

struct TextOutcome {
    std::vector<std::string> sent;
    int failures = 0;
    std::string link;
};

// A one-time link is built only from an id of the server's own form: lower-case hex.
bool noteIDUsable(const std::string& id) {
    return !id.empty() &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

TextOutcome deliverText(const std::vector<TextRecipient>& recipients, const std::string& text, bool burn,
                        bool linkWanted) {
    TextOutcome outcome;
    for (const TextRecipient& r : recipients) {
        if (!r.client) {
            ++outcome.failures;
            continue;
        }
        // This device always stores a text as a file, never as a read-once note.
        const APIResult<nlohmann::json> reply = r.client->sendText(text, burn && !r.local);
        if (!reply.ok()) {
            ++outcome.failures;
            continue;
        }
        outcome.sent.push_back(r.name);
        if (!linkWanted || r.local) continue;
        const auto id = reply.value.find("id");
        if (id != reply.value.end() && id->is_string() && noteIDUsable(id->get<std::string>())) {
            outcome.link = r.linkBase + id->get<std::string>();
        }
    }
    return outcome;
}

}  // namespace

std::set<std::string> AppState::defaultTextTargets() const {
    if (nasEnabled_) {
        if (!centerID_.empty() && centerID_ != deviceID_) return {centerID_};
        return {"local"};
    }
    if (target_.peer) return {target_.peer->id};
    return {"local"};
}

void AppState::sendText() {
    const std::string text = trimWhitespace(textInput_);
    if (text.empty()) return;
    const bool burn = burnMode_;
    // A set is already in plain ordinal order of its keys.
    const std::set<std::string> keys = textTargets_.empty() ? defaultTextTargets() : textTargets_;

    std::vector<TextRecipient> recipients;
    for (const std::string& key : keys) {
        if (key == "local") {
            // Without a client for this device the key counts neither way.
            if (const auto c = localClient()) recipients.push_back({c, "本机", true, ""});
            continue;
        }
        const auto peer = std::find_if(peers_.begin(), peers_.end(), [&key](const Peer& p) { return p.id == key; });
        if (peer == peers_.end()) {
            recipients.push_back({std::nullopt, key, false, ""});  // the device went away
            continue;
        }
        recipients.push_back(
            {client(*peer), peer->name, false, "http://" + peer->ip + ":" + std::to_string(peer->port) + "/b/"});
    }

    const bool linkWanted = burn && keys.size() == 1;
    const bool reloadLocal = keys.count("local") > 0;
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, recipients, text, burn, linkWanted, reloadLocal] {
        const TextOutcome outcome = deliverText(recipients, text, burn, linkWanted);
        queue->post([self, outcome, burn, reloadLocal] {
            if (!self) return;
            if (outcome.failures > 0) {
                self->flash("部分发送失败，详见活动记录");  // stays: no success toast replaces it
            } else if (!outcome.link.empty()) {
                self->env_.copyText(outcome.link);
                self->flash("已发送，一次性链接已复制到剪贴板");
            } else if (!outcome.sent.empty()) {
                self->flash(burn ? "已发送，对方打开后即销毁" : "已发送给 " + joined(outcome.sent, "、"));
            }
            // When every recipient failed, the typed text and the sheet stay for another try.
            if (!(outcome.sent.empty() && outcome.failures > 0)) {
                self->setTextInput("");
                self->setBurnMode(false);
                self->setTextTargets({});
                self->setShowTextSheet(false);
            }
            if (reloadLocal) self->refreshFiles();
        });
    });
}

void AppState::discardBurn(const std::string& id) {
    const auto c = localClient();
    if (!c) return;
    workers_.run([c = *c, id] { c.discardBurn(id); });  // the outcome is not shown
}

void AppState::showBurnNote(BurnNote note) {
    if (burnNote_) {
        burnQueue_.push_back(std::move(note));  // shown when the one on screen is closed
        return;
    }
    setBurnNote(std::move(note));
}

void AppState::closeBurnNote(const std::string& id) {
    discardBurn(id);
    if (burnNote_ && burnNote_->id == id) setBurnNote(std::nullopt);
}

void AppState::closeBurnNoteSoon(const std::string& id) {
    QTimer::singleShot(env_.delays.burnClose, this, [this, id] { closeBurnNote(id); });
}

}  // namespace corvane
