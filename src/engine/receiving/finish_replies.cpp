#include "engine/receiving/finish_replies.h"

#include <algorithm>
#include <map>
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
    const std::string owner = finish.owner;
    kept_.push_back(std::move(finish));
    std::map<std::string, size_t> keptBy;
    for (const StoredFinish& stored : kept_) ++keptBy[stored.owner];
    // Another address's finishes never push out this owner's while it keeps fewer: the
    // oldest reply of an owner keeping the most goes.
    size_t most = keptBy[owner];
    if (most <= perOwner_) {
        if (kept_.size() <= inAll_) return;
        for (const auto& [address, count] : keptBy) most = std::max(most, count);
    }
    const auto oldest = std::find_if(kept_.begin(), kept_.end(),
                                     [&](const StoredFinish& stored) { return keptBy[stored.owner] == most; });
    erase(oldest);
}

StoredFinish* FinishReplies::find(const fs::path& parts, const std::string& id, const std::string& owner) {
    expire();
    for (StoredFinish& stored : kept_) {
        if (stored.parts == parts && stored.id == id && stored.owner == owner) return &stored;
    }
    return nullptr;
}

void FinishReplies::forget(const fs::path& parts, const std::string& id, const std::string& owner) {
    const auto found = std::find_if(kept_.begin(), kept_.end(), [&](const StoredFinish& stored) {
        return stored.parts == parts && stored.id == id && stored.owner == owner;
    });
    if (found != kept_.end()) erase(found);
}

void FinishReplies::expire() {
    const double now = clock_();
    for (auto it = kept_.begin(); it != kept_.end();) it = now - it->at < kKept ? std::next(it) : erase(it);
}

std::deque<StoredFinish>::iterator FinishReplies::erase(std::deque<StoredFinish>::iterator finish) {
    removeNote(finish->note);
    return kept_.erase(finish);
}

}  // namespace corvane
