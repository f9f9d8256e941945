#pragma once
// The replies of stored finishes, kept a short while for the same finish heard again (its
// connection closed before the reply, and the sender sent it once more). Kept per owner
// and in all; beyond either limit the oldest reply of the owner keeping the most goes, so
// other addresses' finishes never push out the reply of an owner keeping fewer. Not
// locked: `UploadRecords` asks it under its own lock. Every finish asks it, so a reply is
// found by its key and an owner's by the owner, never by walking all that are kept.

#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>

namespace corvane {

struct StoredFinish {
    std::filesystem::path parts;
    std::string id;
    std::string owner;
    std::string reply;
    double at = 0;                // by the clock: when the file was stored
    std::filesystem::path note;   // a folder holding the note on disk, read at start
};

class FinishReplies {
public:
    // Seconds a stored finish's reply is kept.
    static constexpr double kKept = 60;

    FinishReplies(size_t perOwner, size_t inAll, std::function<double()> clock);

    // Keeps the reply (one of the owner's for the id before it goes); a note folder of a
    // reply not kept is removed.
    void remember(StoredFinish finish);
    // The reply kept for the owner's stored finish of the id; null when none is.
    StoredFinish* find(const std::filesystem::path& parts, const std::string& id, const std::string& owner);
    // The owner begins a new upload of the id: its finish ends that one.
    void forget(const std::filesystem::path& parts, const std::string& id, const std::string& owner);

private:
    using Kept = std::list<StoredFinish>;

    // Replies past their time go, with their notes on disk.
    void expire();
    // The owner keeping the most replies (of those alike, the one whose oldest is oldest).
    const std::string& keepingMost() const;
    // The finish's reply goes, with its note on disk.
    void erase(Kept::iterator finish);

    const size_t perOwner_;
    const size_t inAll_;
    const std::function<double()> clock_;
    Kept kept_;                                                 // by the time stored, oldest first
    std::unordered_map<std::string, Kept::iterator> byKey_;     // parts, id and owner
    std::unordered_map<std::string, std::deque<Kept::iterator>> byOwner_;  // oldest first
};

}  // namespace corvane
