#include "engine/upload_records.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "base/file_names.h"
#include "base/random_hex.h"
#include "engine/finish_note.h"
#include "engine/part_owner.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// A finish's claim of a part folder: ".finishing-<id>-<hex>".
const char* const kClaimPrefix = ".finishing-";

bool isFolder(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

UniqueFd openFolder(const fs::path& folder) {
    return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void removeTree(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

// The upload id a claim's name holds; empty when the name is no claim.
std::string claimedID(const std::string& name) {
    const size_t prefix = std::strlen(kClaimPrefix);
    const size_t dash = name.rfind('-');
    if (!name.starts_with(kClaimPrefix) || dash == std::string::npos || dash <= prefix) return "";
    std::string id = name.substr(prefix, dash - prefix);
    const bool hex = std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    return hex ? id : "";
}

// Moves the folder aside for a spare; removes it when it cannot be. The folder aside, or
// empty.
fs::path retireOrRemove(const fs::path& folder) {
    fs::path aside = SpareFolders::retire(folder);
    if (aside.empty()) removeTree(folder);
    return aside;
}

bool ownedBy(const std::string& owner, const std::string& peerIP) { return !owner.empty() && owner == peerIP; }

std::vector<fs::path> entriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    return entries;
}

}  // namespace

UploadRecords::UploadRecords(UploadLimits limits, std::function<double()> clock)
    : limits_(limits), clock_(std::move(clock)) {}

// ---------------------------------------------------------------- start and lookup

void UploadRecords::open(const fs::path& parts, double abandonedAfter) {
    Lock lock(lock_);
    // Claims first, so that one given back is judged like any part folder. A claim whose
    // file was stored stays aside, and goes below with the other hidden entries.
    for (const fs::path& entry : entriesOf(parts)) {
        const std::string id = claimedID(entry.filename().string());
        if (id.empty() || storedFinish(entry)) continue;
        forgetFinishNote(entry);
        if (!renameNoReplace(entry, parts / id)) removeTree(entry);
    }
    spares_.forget(parts);
    const auto cutoff = fs::file_time_type::clock::now() -
                        std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::duration<double>(abandonedAfter));
    for (const fs::path& entry : entriesOf(parts)) {
        // Spares, folders moved aside and temporary files of an earlier run.
        if (entry.filename().string().starts_with(".")) {
            // A finish stopped once its file was stored: the reply may never have left.
            if (const auto note = storedFinish(entry)) rememberFinish(parts, note->id, note->owner, note->reply);
            removeTree(entry);
            continue;
        }
        const auto changed = newestChange(entry);
        if (changed && *changed < cutoff) removeTree(entry);
    }
    shelves_.erase(parts);
    loadShelf(shelves_[parts], parts);
}

void UploadRecords::loadShelf(Shelf& shelf, const fs::path& parts) {
    std::vector<std::pair<fs::file_time_type, std::string>> byChange;
    for (const fs::path& entry : entriesOf(parts)) {
        const std::string id = entry.filename().string();
        if (id.starts_with(".") || !isFolder(entry)) continue;
        byChange.emplace_back(newestChange(entry).value_or(fs::file_time_type::min()), id);
        readRecord(shelf, id, entry);
    }
    std::sort(byChange.begin(), byChange.end());
    for (const auto& [changed, id] : byChange) shelf[id].changeOrder = nextChange_++;
}

UploadRecords::Shelf& UploadRecords::shelfFor(const fs::path& parts) {
    auto found = shelves_.find(parts);
    if (found != shelves_.end()) return found->second;
    Shelf& shelf = shelves_[parts];
    loadShelf(shelf, parts);
    return shelf;
}

UploadRecords::Record* UploadRecords::known(const fs::path& parts, const std::string& id) {
    const auto shelf = shelves_.find(parts);
    if (shelf == shelves_.end()) return nullptr;
    const auto found = shelf->second.find(id);
    return found == shelf->second.end() ? nullptr : &found->second;
}

UploadRecords::Record* UploadRecords::find(const fs::path& parts, const std::string& id) {
    Shelf& shelf = shelfFor(parts);
    const auto found = shelf.find(id);
    if (found != shelf.end()) return found->second.state == Record::State::gone ? nullptr : &found->second;
    // A folder made behind the server's back (or by an earlier version) is read once.
    const fs::path folder = parts / id;
    if (!isFolder(folder)) return nullptr;
    return &readRecord(shelf, id, folder);
}

UploadRecords::Record& UploadRecords::readRecord(Shelf& shelf, const std::string& id, const fs::path& folder) {
    Record& record = shelf[id];
    record.owner = recordedOwner(folder);
    record.generation = nextGeneration_++;
    return record;
}

// ---------------------------------------------------------------- changing records

void UploadRecords::touch(Record& record) {
    record.changedAt = clock_();
    record.changeOrder = nextChange_++;
}

void UploadRecords::end(InFlight& chunk) {
    if (chunk.ended) return;
    chunk.ended = true;
    ::shutdown(chunk.sock, SHUT_RDWR);
}

void UploadRecords::newGeneration(Record& record) {
    for (InFlight* chunk : record.inFlight) end(*chunk);
    record.generation = nextGeneration_++;
}

void UploadRecords::forget(Shelf& shelf, const std::string& id) {
    const auto found = shelf.find(id);
    if (found == shelf.end()) return;
    found->second.state = Record::State::gone;
    if (found->second.inFlight.empty()) shelf.erase(found);
}

bool UploadRecords::takeoverAllowed(const Record& record) const {
    const bool chunkInFlight = std::any_of(record.inFlight.begin(), record.inFlight.end(), [&](const InFlight* chunk) {
        return chunk->generation == record.generation && !chunk->ended;
    });
    if (chunkInFlight) return false;
    return record.changedAt == 0 || clock_() - record.changedAt >= kQuietBeforeTakeover;
}

bool UploadRecords::endSameIndex(Record& record, int64_t index) {
    bool found = false;
    for (InFlight* chunk : record.inFlight) {
        if (chunk->generation != record.generation || chunk->index != index) continue;
        found = true;
        end(*chunk);
    }
    return found;
}

bool UploadRecords::inFlightUpTo(const fs::path& parts, const std::string& id, uint64_t generation) {
    const Record* record = known(parts, id);
    return record && std::any_of(record->inFlight.begin(), record->inFlight.end(),
                                 [&](const InFlight* chunk) { return chunk->generation <= generation; });
}

fs::path UploadRecords::prepareFolder(const fs::path& parts, const std::string& peerIP, std::vector<fs::path>& retired) {
    fs::path folder = spares_.take(parts);
    if (folder.empty() || recordOwner(folder, peerIP)) return folder;
    retired.push_back(folder);
    return {};
}

UploadRecords::Record* UploadRecords::create(const fs::path& parts, const std::string& id, const std::string& peerIP,
                                             std::vector<fs::path>& retired, UploadRefusal& refusal) {
    Shelf& shelf = shelfFor(parts);
    if (!makeRoom(shelf, parts, peerIP, retired)) {
        refusal = UploadRefusal::busy;
        return nullptr;
    }
    // The folder takes the id's name only once it records its owner: no moment, and no
    // kill, leaves the upload without one.
    const fs::path made = prepareFolder(parts, peerIP, retired);
    if (made.empty() || !renameNoReplace(made, parts / id)) {
        if (!made.empty()) retired.push_back(made);
        refusal = UploadRefusal::failed;
        return nullptr;
    }
    forgetStoredReply(parts, id);  // a finish of the id now finishes the new upload
    Record& record = shelf[id];  // may be a gone one whose last chunks are still in flight
    record.state = Record::State::live;
    record.owner = peerIP;
    record.generation = nextGeneration_++;
    touch(record);
    return &record;
}

bool UploadRecords::makeRoom(Shelf& shelf, const fs::path& parts, const std::string& peerIP,
                             std::vector<fs::path>& retired) {
    while (true) {
        std::map<std::string, size_t> held;
        size_t total = 0;
        for (const auto& [id, record] : shelf) {
            if (record.state == Record::State::gone) continue;
            ++held[record.owner];
            ++total;
        }
        std::string from;
        if (held[peerIP] >= limits_.perAddress) {
            from = peerIP;
        } else if (total >= limits_.total) {
            from = std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; })->first;
        } else {
            return true;
        }
        // The least recently changed upload of that address that no chunk is writing.
        std::string victim;
        uint64_t oldest = UINT64_MAX;
        for (const auto& [id, record] : shelf) {
            const bool writing = !record.inFlight.empty();
            if (record.state != Record::State::live || record.owner != from || writing || record.changeOrder >= oldest) continue;
            victim = id;
            oldest = record.changeOrder;
        }
        if (victim.empty()) return false;
        const fs::path aside = retireOrRemove(parts / victim);
        if (!aside.empty()) retired.push_back(aside);
        forget(shelf, victim);
    }
}

bool UploadRecords::takeOver(const fs::path& parts, const std::string& id, const std::string& peerIP,
                             std::vector<fs::path>& retired) {
    const fs::path made = prepareFolder(parts, peerIP, retired);
    if (made.empty()) return false;
    Shelf& shelf = shelfFor(parts);
    Record& record = shelf.at(id);
    // No chunk of the upload is in flight (else no takeover): the old folder can be
    // emptied as soon as it is aside.
    const fs::path aside = SpareFolders::retire(parts / id);
    if (aside.empty()) {
        retired.push_back(made);
        return false;
    }
    retired.push_back(aside);
    newGeneration(record);
    if (!renameNoReplace(made, parts / id)) {
        retired.push_back(made);
        forget(shelf, id);
        return false;
    }
    record.owner = peerIP;
    return true;
}

void UploadRecords::keepAll(const std::vector<fs::path>& retired) {
    for (const fs::path& folder : retired) spares_.keep(folder);
}

void UploadRecords::rememberFinish(const fs::path& parts, const std::string& id, const std::string& owner,
                                   const std::string& reply) {
    forgetStoredReply(parts, id);
    if (limits_.storedReplies == 0) return;
    storedFinishes_.push_back(StoredFinish{parts, id, owner, reply, clock_()});
    if (storedFinishes_.size() > limits_.storedReplies) storedFinishes_.pop_front();
}

std::string UploadRecords::storedReply(const fs::path& parts, const std::string& id, const std::string& owner) const {
    for (const StoredFinish& stored : storedFinishes_) {
        if (stored.parts != parts || stored.id != id) continue;
        const bool kept = clock_() - stored.at < kStoredReplyKept;
        return kept && stored.owner == owner ? stored.reply : "";
    }
    return "";
}

void UploadRecords::forgetStoredReply(const fs::path& parts, const std::string& id) {
    std::erase_if(storedFinishes_, [&](const StoredFinish& stored) { return stored.parts == parts && stored.id == id; });
}

// ---------------------------------------------------------------- the operations

bool UploadRecords::owns(const fs::path& parts, const std::string& id, const std::string& peerIP) {
    Lock lock(lock_);
    const Record* record = find(parts, id);
    return record && record->state == Record::State::live && ownedBy(record->owner, peerIP);
}

UploadRefusal UploadRecords::admitMeta(const fs::path& parts, const std::string& id, const std::string& peerIP,
                                       const std::function<void(int folder)>& write) {
    std::vector<fs::path> retired;
    UploadRefusal refusal = UploadRefusal::none;
    Lock lock(lock_);
    while (true) {
        Record* record = find(parts, id);
        if (!record) {
            record = create(parts, id, peerIP, retired, refusal);
            if (!record) break;
        } else if (record->state == Record::State::finishing) {
            refusal = record->owner == peerIP ? UploadRefusal::busy : UploadRefusal::forbidden;
            break;
        } else if (!ownedBy(record->owner, peerIP)) {
            // A meta from another address starts the upload afresh, once it is quiet: no
            // chunk of one sender is ever joined into another's file.
            if (!takeoverAllowed(*record)) {
                refusal = UploadRefusal::forbidden;
                break;
            }
            if (!takeOver(parts, id, peerIP, retired)) {
                refusal = UploadRefusal::failed;
                break;
            }
        }
        const UniqueFd folder = openFolder(parts / id);
        if (!folder && errno == ENOENT) {  // removed behind the server's back
            forget(shelfFor(parts), id);
            continue;
        }
        if (!folder) {
            refusal = UploadRefusal::failed;
            break;
        }
        write(folder.get());
        touch(*record);
        break;
    }
    lock.unlock();
    keepAll(retired);
    return refusal;
}

UploadRecords::ChunkStart UploadRecords::beginChunk(const fs::path& parts, const std::string& id, int64_t index,
                                                    const std::string& peerIP, int sock) {
    std::vector<fs::path> retired;
    ChunkStart start;
    Lock lock(lock_);
    while (true) {
        Record* record = find(parts, id);
        if (!record) {
            record = create(parts, id, peerIP, retired, start.refusal);
            if (!record) break;
        }
        if (record->state == Record::State::finishing) {
            start.refusal = record->owner == peerIP ? UploadRefusal::busy : UploadRefusal::forbidden;
            break;
        }
        if (!ownedBy(record->owner, peerIP)) {
            start.refusal = UploadRefusal::forbidden;
            break;
        }
        // A chunk sent again replaces the one still arriving, which must be out before
        // this one writes over its bytes.
        if (endSameIndex(*record, index)) {
            left_.wait(lock);
            continue;
        }
        UniqueFd folder = openFolder(parts / id);
        if (!folder && errno == ENOENT) {
            forget(shelfFor(parts), id);
            continue;
        }
        if (!folder) {
            start.refusal = UploadRefusal::failed;
            break;
        }
        auto entry = std::make_unique<InFlight>(InFlight{sock, record->generation, index, false});
        record->inFlight.push_back(entry.get());
        touch(*record);
        start.chunk.reset(new Chunk(*this, parts, id, std::move(folder), std::move(entry)));
        break;
    }
    lock.unlock();
    keepAll(retired);
    return start;
}

UploadRecords::Claim UploadRecords::claimForFinish(const fs::path& parts, const std::string& id,
                                                   const std::string& peerIP) {
    Lock lock(lock_);
    Record* record = find(parts, id);
    // The owner's finish sent again once its connection was lost: the one before decides.
    while (record && record->state == Record::State::finishing && ownedBy(record->owner, peerIP)) {
        finishEnded_.wait(lock);
        record = find(parts, id);
    }
    if (!record) {
        std::string reply = storedReply(parts, id, peerIP);
        if (reply.empty()) return {UploadRefusal::notFound, {}, {}};
        return {UploadRefusal::none, {}, std::move(reply)};
    }
    if (record->state == Record::State::finishing) return {UploadRefusal::notFound, {}, {}};
    if (!ownedBy(record->owner, peerIP)) return {UploadRefusal::forbidden, {}, {}};
    // Only chunks whose every byte is in count; nothing writes into the folder once it is
    // claimed. A finishing record is never forgotten by another request.
    record->state = Record::State::finishing;
    newGeneration(*record);
    left_.wait(lock, [&] { return !inFlightUpTo(parts, id, UINT64_MAX); });
    record = known(parts, id);
    const fs::path claimed = parts / (kClaimPrefix + id + "-" + randomHex(6));
    if (!renameNoReplace(parts / id, claimed)) {
        forget(shelfFor(parts), id);
        finishEnded_.notify_all();
        return {UploadRefusal::notFound, {}, {}};
    }
    touch(*record);
    return {UploadRefusal::none, claimed, {}};
}

void UploadRecords::returnClaim(const fs::path& parts, const std::string& id, const fs::path& claimed) {
    Lock lock(lock_);
    const bool back = renameNoReplace(claimed, parts / id);
    Record* record = known(parts, id);
    if (record && record->state == Record::State::finishing) {
        if (back) {
            record->state = Record::State::live;
            touch(*record);
        } else {
            forget(shelfFor(parts), id);
        }
    }
    lock.unlock();
    finishEnded_.notify_all();
    if (!back) removeTree(claimed);
}

fs::path UploadRecords::endFinished(const fs::path& parts, const std::string& id, const fs::path& claimed,
                                    const std::string& reply) {
    {
        Lock lock(lock_);
        const Record* record = known(parts, id);
        if (record) rememberFinish(parts, id, record->owner, reply);
        forget(shelfFor(parts), id);
    }
    finishEnded_.notify_all();
    return retireOrRemove(claimed);
}

void UploadRecords::keepSpare(const fs::path& spare) { spares_.keep(spare); }

UploadRefusal UploadRecords::cancel(const fs::path& parts, const std::string& id, const std::string& peerIP) {
    Lock lock(lock_);
    Record* record = find(parts, id);
    if (!record || record->state == Record::State::finishing) return UploadRefusal::none;
    if (!ownedBy(record->owner, peerIP)) return UploadRefusal::forbidden;
    const uint64_t ended = record->generation;
    newGeneration(*record);
    const fs::path aside = retireOrRemove(parts / id);
    forget(shelfFor(parts), id);
    // The chunks ended write into the folder aside until they are out.
    left_.wait(lock, [&] { return !inFlightUpTo(parts, id, ended); });
    lock.unlock();
    if (!aside.empty()) spares_.keep(aside);
    return UploadRefusal::none;
}

// ---------------------------------------------------------------- chunks

UploadRecords::Chunk::Chunk(UploadRecords& records, fs::path parts, std::string id, UniqueFd folder,
                            std::unique_ptr<InFlight> entry)
    : records_(records), parts_(std::move(parts)), id_(std::move(id)), folder_(std::move(folder)), entry_(std::move(entry)) {}

UploadRecords::Chunk::~Chunk() { records_.leave(*this); }

UploadRecords::Chunk::Put UploadRecords::Chunk::put(const std::function<bool()>& put) {
    std::lock_guard guard(records_.lock_);
    const Record* record = records_.known(parts_, id_);
    const bool counts = record && record->state == Record::State::live && record->generation == entry_->generation &&
                        !entry_->ended;
    if (!counts) return Put::dropped;
    return put() ? Put::counted : Put::failed;
}

void UploadRecords::leave(const Chunk& chunk) {
    {
        std::lock_guard guard(lock_);
        Record* record = known(chunk.parts_, chunk.id_);
        if (record) {
            std::erase(record->inFlight, chunk.entry_.get());
            if (record->state == Record::State::live && record->generation == chunk.entry_->generation) touch(*record);
            if (record->state == Record::State::gone && record->inFlight.empty()) shelves_[chunk.parts_].erase(chunk.id_);
        }
    }
    left_.notify_all();
}

}  // namespace corvane
