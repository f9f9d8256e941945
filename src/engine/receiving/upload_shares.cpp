#include <algorithm>
#include <map>

#include "engine/receiving/upload_records.h"
#include "engine/server/room_choice.h"

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
    const std::set<std::string> waitingForChunks = betweenChunks(shelf, peerIP);
    const double now = clock_();
    std::vector<RoomUnit> units;
    std::vector<std::string> ids;
    size_t mine = 0;
    std::string myOldest;  // the newcomer's least recently changed upload that may go
    uint64_t myOldestOrder = UINT64_MAX;
    // Listed least recently changed first: of two alike, it goes.
    std::vector<std::pair<uint64_t, std::string>> byChange;
    for (const auto& [id, record] : shelf) {
        if (record.state != Record::State::gone) byChange.emplace_back(record.changeOrder, id);
    }
    std::sort(byChange.begin(), byChange.end());
    for (const auto& [order, id] : byChange) {
        const Record& record = shelf.at(id);
        // Progress is never dropped for another upload; an address writes into no more
        // uploads than it holds connections.
        const bool mayGo = record.state == Record::State::live && !writing(record) && !waitingForChunks.count(id);
        if (record.owner == peerIP) {
            ++mine;
            if (mayGo && order < myOldestOrder) {
                myOldest = id;
                myOldestOrder = order;
            }
        }
        const double stored = double(storedRecently(record));
        const bool quiet = now - record.changedAt >= limits_.quietGivesWay;
        units.push_back(RoomUnit{record.owner, 1, stored, !progressing(record), quiet, record.changedAt, !mayGo});
        ids.push_back(id);
    }
    if (mine >= limits_.perAddress) return {true, myOldest};
    if (byChange.size() < limits_.total) return {false, {}};
    const RoomChoice choice = chooseToGiveWay(units, RoomNewcomer{peerIP, 1});
    // With none to give way, the newcomer's own upload may give way to its next.
    if (choice.why == RoomChoice::Why::none) return {true, myOldest};
    return {true, ids[choice.unit]};
}

bool UploadRecords::full(const Shelf& shelf) const {
    const size_t live = size_t(std::count_if(shelf.begin(), shelf.end(), [](const auto& entry) {
        return entry.second.state != Record::State::gone;
    }));
    return live >= limits_.total;
}

int64_t UploadRecords::storedRecently(const Record& record) const {
    const double since = clock_() - limits_.quietGivesWay;
    int64_t bytes = 0;
    for (const auto& [at, stored] : record.storedLately) {
        if (at >= since) bytes += stored;
    }
    return bytes;
}

bool UploadRecords::progressing(const Record& record) const {
    // A new upload has a moment to send its first chunk.
    if (clock_() - record.madeAt < limits_.youngFor) return true;
    // Less than the floor will do when it is all that is left; an upload with nothing left
    // to store waits only for its finish, and holds no room by storing more.
    int64_t floor = limits_.progressFloor;
    const int64_t left = record.expected - record.stored;
    if (record.expected >= 0 && left > 0) floor = std::min(floor, left);
    return storedRecently(record) >= floor;
}

void UploadRecords::noteStored(Record& record, int64_t index, int64_t bytes) {
    constexpr double kSpan = 10;
    const double now = clock_();
    if (!record.storedIndices.insert(index).second) return;
    record.stored += bytes;
    auto& lately = record.storedLately;
    std::erase_if(lately, [&](const auto& span) { return span.first < now - limits_.quietGivesWay; });
    if (!lately.empty() && now - lately.back().first < kSpan) {
        lately.back().second += bytes;
    } else {
        lately.emplace_back(now, bytes);
    }
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
    record.busyUntil = clock_() + limits_.droppedToldBusy;
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
    const auto found = shelf.find(id);
    if (found == shelf.end()) return false;
    const Record& record = found->second;
    return record.state == Record::State::gone && record.owner == peerIP && record.busyUntil > clock_();
}

const UploadRecords::Record* UploadRecords::keptDropped(const Shelf& shelf, const std::string& id) const {
    const auto found = shelf.find(id);
    if (found == shelf.end()) return nullptr;
    const Record& record = found->second;
    return record.state == Record::State::gone && record.keptUntil > clock_() ? &record : nullptr;
}

void UploadRecords::trimKeptIds(Shelf& shelf) {
    const double now = clock_();
    std::map<std::string, size_t> keptBy;
    size_t kept = 0;
    const auto holdsId = [](const Record& record) {
        return record.state == Record::State::gone && (record.keptUntil > 0 || record.busyUntil > 0);
    };
    for (auto it = shelf.begin(); it != shelf.end();) {
        Record& record = it->second;
        if (record.state == Record::State::gone && record.keptUntil <= now) record.keptUntil = 0;
        if (record.state == Record::State::gone && record.busyUntil <= now) record.busyUntil = 0;
        if (removable(record)) {
            it = shelf.erase(it);
            continue;
        }
        if (holdsId(record)) {
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
            if (!holdsId(record) || record.owner != most->first) continue;
            if (oldest == shelf.end() || record.busyUntil < oldest->second.busyUntil) oldest = it;
        }
        --most->second;
        oldest->second.keptUntil = 0;
        oldest->second.busyUntil = 0;
        if (removable(oldest->second)) shelf.erase(oldest);
    }
}

}  // namespace corvane
