#include <algorithm>
#include <map>

#include "engine/receiving/drop_note.h"
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
        if (room.givesWay.empty() || !drop(shelf, parts, room.givesWay, retired)) return false;
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
        // Progress is the bytes of new chunks it stored over the window, against a floor
        // no meta lowers; made by a meta alone, it has none, however young.
        const int64_t stored = storedRecently(record);
        const bool quiet = now - record.changedAt >= limits_.quietGivesWay;
        units.push_back(RoomUnit{record.owner, 1, double(stored), stored < limits_.progressFloor, quiet,
                                 record.changedAt, !mayGo});
        ids.push_back(id);
    }
    if (mine >= limits_.perAddress) return {true, myOldest};
    if (byChange.size() < limits_.total) return {false, {}};
    const RoomChoice choice = chooseToGiveWay(units, RoomNewcomer{peerIP, 1}, limits_.guaranteedFew);
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

void UploadRecords::noteStored(Record& record, int64_t index, int64_t bytes) {
    constexpr double kSpan = 10;
    const double now = clock_();
    if (!record.storedIndices.insert(index).second) return;
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

bool UploadRecords::drop(Shelf& shelf, const fs::path& parts, const std::string& id, std::vector<fs::path>& retired) {
    Record& record = shelf.at(id);
    // What the drop promises its sender is noted first: a restart keeps it.
    const DropNote note{id, record.owner, record.changedAt + kQuietBeforeTakeover, clock_() + limits_.droppedToldBusy};
    if (!noteDrop(parts, note)) return false;
    const uint64_t ended = record.generation;
    newGeneration(record);
    record.keptUntil = note.keptUntil;
    record.busyUntil = note.busyUntil;
    const fs::path aside = setAside(parts, id, record);
    forget(shelf, id);
    if (!aside.empty()) retireAside(parts, id, ended, aside, retired);
    trimKeptIds(shelf, parts);
    return true;
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

void UploadRecords::trimKeptIds(Shelf& shelf, const fs::path& parts) {
    const double now = clock_();
    std::map<std::string, size_t> keptBy;
    size_t kept = 0;
    const auto holdsId = [](const Record& record) {
        return record.state == Record::State::gone && (record.keptUntil > 0 || record.busyUntil > 0);
    };
    for (auto it = shelf.begin(); it != shelf.end();) {
        Record& record = it->second;
        const bool held = holdsId(record);
        if (record.state == Record::State::gone && record.keptUntil <= now) record.keptUntil = 0;
        if (record.state == Record::State::gone && record.busyUntil <= now) record.busyUntil = 0;
        if (held && !holdsId(record)) forgetDrop(parts, it->first);
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
        forgetDrop(parts, oldest->first);
        if (removable(oldest->second)) shelf.erase(oldest);
    }
}

}  // namespace corvane
