#include "engine/receiving/finish_replies.h"

#include <algorithm>
#include <system_error>

#include "engine/receiving/lone_chunk.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// A note folder emptied but for the note, or a lone file linked as the stored file.
void removeNote(const fs::path& note) {
    if (note.empty()) return;
    if (isLoneFile(note)) {
        removeLone(note);
        return;
    }
    std::error_code ec;
    fs::remove_all(note, ec);
}

std::string keyOf(const fs::path& parts, const std::string& id, const std::string& owner) {
    std::string key = parts.native();
    key += '\0';
    key += id;
    key += '\0';
    key += owner;
    return key;
}

}  // namespace

FinishReplies::FinishReplies(size_t perOwner, size_t inAll, std::function<double()> clock)
    : perOwner_(perOwner), inAll_(inAll), clock_(std::move(clock)) {}

void FinishReplies::remember(StoredFinish finish) {
    forget(finish.parts, finish.id, finish.owner);
    expire();
    if (perOwner_ == 0 || inAll_ == 0) {
        removeNote(finish.note);
        return;
    }
    // Replies read at start come in any order: each goes where its time puts it.
    auto place = kept_.end();
    while (place != kept_.begin() && std::prev(place)->at > finish.at) --place;
    const auto added = kept_.insert(place, std::move(finish));
    byKey_.emplace(keyOf(added->parts, added->id, added->owner), added);
    auto& owners = byOwner_[added->owner];
    owners.insert(std::upper_bound(owners.begin(), owners.end(), added->at,
                                   [](double at, Kept::iterator other) { return at < other->at; }),
                  added);
    // Another address's finishes never push out this owner's while it keeps fewer: the
    // oldest reply of an owner keeping the most goes.
    if (owners.size() > perOwner_) {
        erase(owners.front());
    } else if (kept_.size() > inAll_) {
        erase(byOwner_.at(keepingMost()).front());
    }
}

StoredFinish* FinishReplies::find(const fs::path& parts, const std::string& id, const std::string& owner) {
    expire();
    const auto found = byKey_.find(keyOf(parts, id, owner));
    return found == byKey_.end() ? nullptr : &*found->second;
}

void FinishReplies::forget(const fs::path& parts, const std::string& id, const std::string& owner) {
    const auto found = byKey_.find(keyOf(parts, id, owner));
    if (found != byKey_.end()) erase(found->second);
}

void FinishReplies::expire() {
    const double now = clock_();
    while (!kept_.empty() && now - kept_.front().at >= kKept) erase(kept_.begin());
}

const std::string& FinishReplies::keepingMost() const {
    const std::string* most = nullptr;
    size_t count = 0;
    double oldest = 0;
    for (const auto& [owner, replies] : byOwner_) {
        const double at = replies.front()->at;
        if (replies.size() > count || (replies.size() == count && at < oldest)) {
            most = &owner;
            count = replies.size();
            oldest = at;
        }
    }
    return *most;
}

void FinishReplies::erase(Kept::iterator finish) {
    removeNote(finish->note);
    byKey_.erase(keyOf(finish->parts, finish->id, finish->owner));
    const auto owners = byOwner_.find(finish->owner);
    std::erase(owners->second, finish);
    if (owners->second.empty()) byOwner_.erase(owners);
    kept_.erase(finish);
}

}  // namespace corvane
