#include <algorithm>
#include <map>

#include "engine/receiving/upload_records.h"

// How the room for unfinished uploads is shared among addresses, and the uploads dropped
// to make it: part of UploadRecords, always under its lock.

namespace fs = std::filesystem;

namespace corvane {

bool UploadRecords::makeRoom(Shelf& shelf, const fs::path& parts, const std::string& peerIP,
                             std::vector<fs::path>& retired) {
    while (true) {
        const Room room = roomFor(shelf, peerIP);
        if (!room.needed) return true;
        if (room.givesWay.empty()) return false;
        drop(shelf, parts, room.givesWay, retired);
    }
}

UploadRecords::Room UploadRecords::roomFor(const Shelf& shelf, const std::string& peerIP) const {
    struct Holding {
        size_t held = 0;
        std::string oldest;  // its least recently changed live upload not being written
        uint64_t oldestOrder = UINT64_MAX;
    };
    std::map<std::string, Holding> byAddress;
    size_t total = 0;
    const std::set<std::string> waitingForChunks = betweenChunks(shelf, peerIP);
    for (const auto& [id, record] : shelf) {
        if (record.state == Record::State::gone) continue;
        ++total;
        Holding& holding = byAddress[record.owner];
        ++holding.held;
        // Progress is never dropped for another upload; an address writes into no more
        // uploads than it holds connections.
        const bool mayGo = record.state == Record::State::live && !writing(record) && !waitingForChunks.count(id);
        if (mayGo && record.changeOrder < holding.oldestOrder) {
            holding.oldest = id;
            holding.oldestOrder = record.changeOrder;
        }
    }
    const Holding mine = byAddress[peerIP];
    if (mine.held >= limits_.perAddress) return {true, mine.oldest};
    if (total < limits_.total) return {false, {}};
    // An upload nobody has moved on for long gives way before any share is weighed, so an
    // address that left one, or a crowd that went quiet, blocks nobody for ever.
    const std::string quiet = longestQuiet(shelf);
    if (!quiet.empty()) return {true, quiet};
    // Max-min fair: only an address holding at least two more than the newcomer gives way,
    // counting what it writes into, but only with an upload that may go.
    const Holding* most = nullptr;
    for (const auto& [address, holding] : byAddress) {
        if (holding.held < mine.held + 2 || holding.oldest.empty()) continue;
        const bool more = !most || holding.held > most->held ||
                          (holding.held == most->held && holding.oldestOrder < most->oldestOrder);
        if (more) most = &holding;
    }
    return {true, most ? most->oldest : mine.oldest};
}

std::string UploadRecords::longestQuiet(const Shelf& shelf) const {
    const double now = clock_();
    const Record* longest = nullptr;
    std::string id;
    for (const auto& [key, record] : shelf) {
        if (record.state != Record::State::live || now - record.changedAt < limits_.quietGivesWay || writing(record)) {
            continue;
        }
        const bool longer = !longest || record.changedAt < longest->changedAt ||
                            (record.changedAt == longest->changedAt && record.changeOrder < longest->changeOrder);
        if (!longer) continue;
        longest = &record;
        id = key;
    }
    return id;
}

std::set<std::string> UploadRecords::betweenChunks(const Shelf& shelf, const std::string& peerIP) const {
    struct Writer {
        int inFlight = 0;
        std::vector<std::pair<double, std::string>> recent;  // changed at, id
    };
    std::map<std::string, Writer> writers;
    const double now = clock_();
    for (const auto& [id, record] : shelf) {
        if (record.state != Record::State::live) continue;
        if (writing(record)) {
            ++writers[record.owner].inFlight;
        } else if (now - record.changedAt < limits_.betweenChunks) {
            writers[record.owner].recent.emplace_back(record.changedAt, id);
        }
    }
    std::set<std::string> waiting;
    for (auto& [address, writer] : writers) {
        if (writer.recent.empty() || !connectionsOf_) continue;
        const int asking = address == peerIP ? 1 : 0;
        const int spare = connectionsOf_(address) - asking - writer.inFlight;
        std::sort(writer.recent.rbegin(), writer.recent.rend());
        for (int k = 0; k < spare && k < int(writer.recent.size()); ++k) waiting.insert(writer.recent[size_t(k)].second);
    }
    return waiting;
}

void UploadRecords::drop(Shelf& shelf, const fs::path& parts, const std::string& id, std::vector<fs::path>& retired) {
    Record& record = shelf.at(id);
    const uint64_t ended = record.generation;
    newGeneration(record);
    record.keptUntil = record.changedAt + kQuietBeforeTakeover;
    const fs::path aside = retireOrRemove(parts / id);
    forget(shelf, id);
    if (!aside.empty()) retireAside(parts, id, ended, aside, retired);
    trimKeptIds(shelf);
}

bool UploadRecords::keptForAnother(const Shelf& shelf, const std::string& id, const std::string& peerIP) const {
    const Record* record = keptDropped(shelf, id);
    return record && record->owner != peerIP;
}

bool UploadRecords::droppedFrom(const Shelf& shelf, const std::string& id, const std::string& peerIP) const {
    const Record* record = keptDropped(shelf, id);
    return record && record->owner == peerIP;
}

const UploadRecords::Record* UploadRecords::keptDropped(const Shelf& shelf, const std::string& id) const {
    const auto found = shelf.find(id);
    if (found == shelf.end()) return nullptr;
    const Record& record = found->second;
    return record.state == Record::State::gone && record.keptUntil > clock_() ? &record : nullptr;
}

void UploadRecords::trimKeptIds(Shelf& shelf) {
    std::map<std::string, size_t> keptBy;
    size_t kept = 0;
    for (auto it = shelf.begin(); it != shelf.end();) {
        Record& record = it->second;
        if (record.state == Record::State::gone && record.keptUntil <= clock_()) record.keptUntil = 0;
        if (removable(record)) {
            it = shelf.erase(it);
            continue;
        }
        if (record.state == Record::State::gone && record.keptUntil > 0) {
            ++keptBy[record.owner];
            ++kept;
        }
        ++it;
    }
    for (; kept > limits_.total; --kept) {
        const auto most = std::max_element(keptBy.begin(), keptBy.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        auto oldest = shelf.end();
        for (auto it = shelf.begin(); it != shelf.end(); ++it) {
            const Record& record = it->second;
            if (record.state != Record::State::gone || record.keptUntil == 0 || record.owner != most->first) continue;
            if (oldest == shelf.end() || record.keptUntil < oldest->second.keptUntil) oldest = it;
        }
        --most->second;
        oldest->second.keptUntil = 0;
        if (removable(oldest->second)) shelf.erase(oldest);
    }
}

}  // namespace corvane
