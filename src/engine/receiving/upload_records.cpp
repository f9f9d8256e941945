#include "engine/receiving/upload_records.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <utility>

#include "base/file_names.h"
#include "base/random_hex.h"
#include "engine/receiving/drop_note.h"
#include "engine/receiving/finish_note.h"
#include "engine/receiving/lone_chunk.h"
#include "engine/receiving/part_owner.h"

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

UploadRecords::Claim refusedClaim(UploadRefusal refusal) {
    UploadRecords::Claim claim;
    claim.refusal = refusal;
    return claim;
}

bool ownedBy(const std::string& owner, const std::string& peerIP) { return !owner.empty() && owner == peerIP; }

// A file time as seconds since 1970, as the clock gives them; 0 when there is none.
double secondsOf(const std::optional<fs::file_time_type>& time) {
    if (!time) return 0;
    return std::chrono::duration<double>(std::chrono::file_clock::to_sys(*time).time_since_epoch()).count();
}

std::vector<fs::path> entriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    return entries;
}

}  // namespace

UploadRecords::UploadRecords(UploadLimits limits, std::function<double()> clock,
                             std::function<int(const std::string&)> connectionsOf)
    : limits_(limits),
      clock_(std::move(clock)),
      connectionsOf_(std::move(connectionsOf)),
      replies_(limits.storedReplies, limits.storedRepliesInAll, clock_) {}

fs::path UploadRecords::retireOrRemove(const fs::path& folder) {
    fs::path aside = SpareFolders::retire(folder);
    if (aside.empty()) removeTree(folder);
    return aside;
}

// ---------------------------------------------------------------- start and lookup

void UploadRecords::open(const fs::path& parts, double abandonedAfter) {
    Lock lock(lock_);
    // Claims first, so that one given back is judged like any part folder. A claim whose
    // file was stored stays aside, and goes below with the other hidden entries.
    for (const fs::path& entry : entriesOf(parts)) {
        const std::string id = claimedID(entry.filename().string());
        if (id.empty() || storedFinish(entry)) continue;
        forgetFinishNote(entry);
        if (!renameToFreeName(entry, parts / id)) removeTree(entry);
    }
    spares_.forget(parts);
    const auto cutoff = fs::file_time_type::clock::now() -
                        std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::duration<double>(abandonedAfter));
    for (const fs::path& entry : entriesOf(parts)) {
        if (isDropNote(entry)) continue;  // read with the records below
        if (isLoneFile(entry)) {
            const auto changed = newestChange(entry);
            if (changed && *changed < cutoff) removeLone(entry);
            continue;  // read with the records below
        }
        // Spares, folders moved aside and temporary files of an earlier run.
        if (entry.filename().string().starts_with(".")) {
            keepNoteOrRemove(parts, entry);
            continue;
        }
        const auto changed = newestChange(entry);
        if (changed && *changed < cutoff) removeTree(entry);
    }
    shelves_.erase(parts);
    std::erase_if(asideWhileWritten_, [&](const AsideWhileWritten& aside) { return aside.parts == parts; });
    loadShelf(shelves_[parts], parts);
}

void UploadRecords::keepNoteOrRemove(const fs::path& parts, const fs::path& entry) {
    // A finish stopped once its file was stored: the reply may never have left. Its note
    // stays on disk while the reply is kept, so that a kill right after this start loses
    // nothing either.
    const auto note = storedFinish(entry);
    const double at = note && note->at > 0 ? note->at : clock_();
    if (!note || clock_() - at >= kStoredReplyKept || !keepOnlyFinishNote(entry)) {
        removeTree(entry);
        return;
    }
    replies_.remember(StoredFinish{parts, note->id, note->owner, note->reply, at, entry});
}

void UploadRecords::loadShelf(Shelf& shelf, const fs::path& parts) {
    std::vector<std::pair<double, std::string>> byChange;
    std::vector<fs::path> dropNotes;
    std::vector<fs::path> loneFiles;
    for (const fs::path& entry : entriesOf(parts)) {
        const std::string id = entry.filename().string();
        if (isDropNote(entry)) dropNotes.push_back(entry);
        if (isLoneFile(entry)) loneFiles.push_back(entry);
        if (id.starts_with(".") || !isFolder(entry)) continue;
        byChange.emplace_back(readRecord(shelf, id, entry).changedAt, id);
    }
    for (const fs::path& file : loneFiles) loadLone(shelf, parts, file);
    for (const auto& [id, record] : shelf) {
        if (record.lone) byChange.emplace_back(record.changedAt, id);
    }
    std::sort(byChange.begin(), byChange.end());
    for (const auto& [changed, id] : byChange) shelf[id].changeOrder = nextChange_++;
    for (const fs::path& note : dropNotes) keepDrop(shelf, parts, note);
    trimKeptIds(shelf, parts);
}

void UploadRecords::loadLone(Shelf& shelf, const fs::path& parts, const fs::path& file) {
    const auto lone = readLone(file);
    if (!lone) {  // written, never counted
        removeLone(file);
        return;
    }
    if (!lone->reply.empty() && linkedElsewhere(file)) {
        // Stored before the kill: its reply is kept for the finish heard again.
        const double at = lone->at > 0 ? lone->at : clock_();
        if (clock_() - at >= kStoredReplyKept) {
            removeLone(file);
        } else {
            replies_.remember(StoredFinish{parts, lone->id, lone->owner, lone->reply, at, file});
        }
        return;
    }
    // A held chunk; a folder of the id, or another lone file of it, came later.
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || shelf.count(lone->id)) {
        removeLone(file);
        return;
    }
    Record& record = shelf[lone->id];
    record.owner = lone->owner;
    record.generation = nextGeneration_++;
    record.changedAt = secondsOf(newestChange(file));
    record.lone = true;
    record.meta = lone->meta;
    record.loneSize = int64_t(size);
    record.loneFile = file;
    record.loneBytes = int64_t(size);
}

void UploadRecords::keepDrop(Shelf& shelf, const fs::path& parts, const fs::path& entry) {
    const auto note = readDropNote(entry);
    const double now = clock_();
    // A note that cannot be read promises nothing; one of an id made again is over.
    if (!note || shelf.count(note->id) || std::max(note->keptUntil, note->busyUntil) <= now) {
        removeTree(entry);
        return;
    }
    Record& record = shelf[note->id];
    record.state = Record::State::gone;
    record.owner = note->owner;
    record.generation = nextGeneration_++;
    record.keptUntil = note->keptUntil;
    record.busyUntil = note->busyUntil;
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
    // A folder made behind the server's back (or by an earlier version) is read once. A
    // look that found none is trusted for a moment: a status, the meta right behind it
    // and its chunk look for the same new id (on FUSE each look is a round trip).
    const fs::path folder = parts / id;
    const double now = clock_();
    const auto missed = missedAt_.find(folder);
    if (missed != missedAt_.end() && now - missed->second >= 0 && now - missed->second < kMissTrusted) return nullptr;
    if (!isFolder(folder)) {
        noteMiss(folder, now);
        return nullptr;
    }
    return &readRecord(shelf, id, folder);
}

void UploadRecords::noteMiss(const fs::path& folder, double now) {
    if (missedAt_.size() >= kMissesKept) {
        std::erase_if(missedAt_, [&](const auto& miss) { return now - miss.second >= kMissTrusted || now < miss.second; });
        if (missedAt_.size() >= kMissesKept) missedAt_.clear();
    }
    missedAt_[folder] = now;
}

UploadRecords::Record& UploadRecords::readRecord(Shelf& shelf, const std::string& id, const fs::path& folder) {
    Record& record = shelf[id];
    record.owner = recordedOwner(folder);
    record.generation = nextGeneration_++;
    // What the folder holds tells when it last changed, also after a kill: a live upload
    // is no quieter for the restart.
    record.changedAt = secondsOf(newestChange(folder));
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

bool UploadRecords::removable(const Record& record) const {
    return record.state == Record::State::gone && record.inFlight.empty() && record.keptUntil <= clock_() &&
           record.busyUntil <= clock_();
}

void UploadRecords::forget(Shelf& shelf, const std::string& id) {
    const auto found = shelf.find(id);
    if (found == shelf.end()) return;
    found->second.state = Record::State::gone;
    if (removable(found->second)) shelf.erase(found);
}

bool UploadRecords::writing(const Record& record) const {
    const double now = clock_();
    return std::any_of(record.inFlight.begin(), record.inFlight.end(), [&](const InFlight* chunk) {
        return chunk->generation == record.generation && !chunk->ended &&
               now - chunk->heardAt.load(std::memory_order_relaxed) < kQuietBeforeTakeover;
    });
}

bool UploadRecords::takeoverAllowed(const Record& record) const {
    return !writing(record) && clock_() - record.changedAt >= kQuietBeforeTakeover;
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
                                             std::vector<fs::path>& retired, UploadRefusal& refusal, bool byChunk,
                                             bool lone) {
    Shelf& shelf = shelfFor(parts);
    if (keptForAnother(shelf, id, peerIP)) {
        refusal = UploadRefusal::forbidden;
        return nullptr;
    }
    // A chunk takes no room from another upload: a sender whose upload went comes back
    // through its meta.
    if (byChunk ? full(shelf) : !makeRoom(shelf, parts, peerIP, retired)) {
        refusal = UploadRefusal::busy;
        return nullptr;
    }
    // The folder takes the id's name only once it records its owner: no moment, and no
    // kill, leaves the upload without one. A lone upload has none until it needs one.
    const fs::path made = lone ? fs::path() : prepareFolder(parts, peerIP, retired);
    if (!lone && (made.empty() || !renameToFreeName(made, parts / id))) {
        if (!made.empty()) retired.push_back(made);
        refusal = UploadRefusal::failed;
        return nullptr;
    }
    replies_.forget(parts, id, peerIP);  // the owner's finish of the id now finishes the new upload
    Record& record = shelf[id];  // may be a gone one whose last chunks are still in flight
    if (record.keptUntil > 0 || record.busyUntil > 0) forgetDrop(parts, id);
    record.state = Record::State::live;
    record.owner = peerIP;
    record.generation = nextGeneration_++;
    record.keptUntil = 0;
    record.busyUntil = 0;
    record.storedIndices.clear();
    record.storedLately.clear();
    record.lone = lone;
    record.meta.clear();
    record.loneSize = 0;
    record.loneFile.clear();
    record.loneBytes = 0;
    touch(record);
    return &record;
}

bool UploadRecords::lonePossible(const fs::path& parts) {
    const auto found = loneWorks_.find(parts);
    if (found != loneWorks_.end()) return found->second;
    const bool works = loneFilesWork(parts);
    loneWorks_[parts] = works;
    return works;
}

bool UploadRecords::giveFolder(const fs::path& parts, const std::string& id, Record& record, std::vector<fs::path>& retired) {
    const fs::path made = prepareFolder(parts, record.owner, retired);
    if (made.empty()) return false;
    if (!renameToFreeName(made, parts / id)) {
        retired.push_back(made);
        return false;
    }
    const UniqueFd folder = openFolder(parts / id);
    if (folder) writeMetaFile(folder.get(), record.meta);  // a failed write is noticed by finish
    if (!record.loneFile.empty()) {
        // Named by the folder first: a kill in between leaves the folder, and the lone
        // file of its id goes at start.
        forgetLoneRecord(record.loneFile);
        if (!folder || ::renameat(AT_FDCWD, record.loneFile.c_str(), folder.get(), chunkFileName(0).c_str()) != 0) {
            removeLone(record.loneFile);
            record.storedIndices.erase(0);
        }
    }
    record.lone = false;
    record.meta.clear();
    record.loneFile.clear();
    record.loneBytes = 0;
    return true;
}

void UploadRecords::dropLoneChunk(Record& record) {
    if (!record.loneFile.empty()) removeLone(record.loneFile);
    record.loneFile.clear();
    record.loneBytes = 0;
}

fs::path UploadRecords::setAside(const fs::path& parts, const std::string& id, Record& record) {
    if (!record.lone) return retireOrRemove(parts / id);
    dropLoneChunk(record);
    return {};
}

void UploadRecords::retireAside(const fs::path& parts, const std::string& id, uint64_t ended, const fs::path& aside,
                                std::vector<fs::path>& retired) {
    // Until its ended chunks are out they may still write into it by its descriptor, so
    // it may not yet become another upload's folder.
    if (inFlightUpTo(parts, id, ended)) {
        asideWhileWritten_.push_back(AsideWhileWritten{parts, id, ended, aside});
    } else {
        retired.push_back(aside);
    }
}

std::vector<fs::path> UploadRecords::asideNowFree() {
    std::vector<fs::path> free;
    std::erase_if(asideWhileWritten_, [&](const AsideWhileWritten& aside) {
        if (inFlightUpTo(aside.parts, aside.id, aside.ended)) return false;
        free.push_back(aside.folder);
        return true;
    });
    return free;
}

bool UploadRecords::takeOver(const fs::path& parts, const std::string& id, const std::string& peerIP,
                             std::vector<fs::path>& retired) {
    Record& lone = shelfFor(parts).at(id);
    if (lone.lone) {
        newGeneration(lone);
        dropLoneChunk(lone);
        lone.owner = peerIP;
        touch(lone);
        replies_.forget(parts, id, peerIP);
        return true;
    }
    const fs::path made = prepareFolder(parts, peerIP, retired);
    if (made.empty()) return false;
    Shelf& shelf = shelfFor(parts);
    Record& record = shelf.at(id);
    const fs::path aside = SpareFolders::retire(parts / id);
    if (aside.empty()) {
        retired.push_back(made);
        return false;
    }
    // A chunk of the owner that heard nothing for the quiet time ends here.
    const uint64_t ended = record.generation;
    newGeneration(record);
    retireAside(parts, id, ended, aside, retired);
    if (!renameToFreeName(made, parts / id)) {
        retired.push_back(made);
        forget(shelf, id);
        return false;
    }
    record.owner = peerIP;
    touch(record);  // made afresh for its new owner
    replies_.forget(parts, id, peerIP);
    return true;
}

void UploadRecords::keepAll(const std::vector<fs::path>& retired) {
    for (const fs::path& folder : retired) spares_.keep(folder);
}

// ---------------------------------------------------------------- the operations

UploadRefusal UploadRecords::admitMeta(const fs::path& parts, const std::string& id, const std::string& peerIP,
                                       const std::string& stored, std::optional<int64_t> loneSize) {
    std::vector<fs::path> retired;
    UploadRefusal refusal = UploadRefusal::none;
    Lock lock(lock_);
    while (true) {
        Record* record = find(parts, id);
        if (!record) {
            record = create(parts, id, peerIP, retired, refusal, false, loneSize && lonePossible(parts));
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
        // A meta is no change, and what it announces is no progress: only making the
        // upload and its chunks are.
        if (record->lone && loneSize) {
            record->meta = stored;
            record->loneSize = *loneSize;
            // A failed record leaves the meta before it on disk, read after a restart only.
            if (!record->loneFile.empty()) recordLone(record->loneFile, LoneRecord{id, record->owner, stored, {}, 0});
            break;
        }
        if (record->lone && !giveFolder(parts, id, *record, retired)) {
            refusal = UploadRefusal::failed;
            break;
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
        writeMetaFile(folder.get(), stored);  // a failed write is noticed by finish
        break;
    }
    const int error = errno;
    lock.unlock();
    keepAll(retired);
    errno = error;
    return refusal;
}

UploadRecords::View UploadRecords::view(const fs::path& parts, const std::string& id, const std::string& peerIP) {
    Lock lock(lock_);
    const Record* record = find(parts, id);
    if (!record || record->state != Record::State::live || !ownedBy(record->owner, peerIP)) return {};
    return View{true, record->lone, record->meta, !record->loneFile.empty()};
}

UploadRecords::ChunkStart UploadRecords::beginChunk(const fs::path& parts, const std::string& id, int64_t index,
                                                    int64_t length, const std::string& peerIP, int sock) {
    std::vector<fs::path> retired;
    ChunkStart start;
    Lock lock(lock_);
    while (true) {
        Record* record = find(parts, id);
        if (!record && droppedFrom(shelfFor(parts), id, peerIP)) {
            // Made again by a chunk it would lack its meta and earlier chunks, and its
            // finish would fail once every byte was sent: the sender hears at once that
            // there was no room.
            start.refusal = UploadRefusal::busy;
            break;
        }
        if (!record) {
            record = create(parts, id, peerIP, retired, start.refusal, true);
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
        // The whole file of a lone upload stays lone; any other chunk gives it a folder.
        const bool lone = record->lone && index == 0 && length == record->loneSize;
        if (record->lone && !lone && !giveFolder(parts, id, *record, retired)) {
            start.refusal = UploadRefusal::failed;
            break;
        }
        UniqueFd folder = lone ? UniqueFd() : openFolder(parts / id);
        if (!lone && !folder && errno == ENOENT) {
            forget(shelfFor(parts), id);
            continue;
        }
        if (!lone && !folder) {
            start.refusal = UploadRefusal::failed;
            break;
        }
        auto entry = std::make_unique<InFlight>();
        entry->sock = sock;
        entry->generation = record->generation;
        entry->index = index;
        entry->heardAt = clock_();
        record->inFlight.push_back(entry.get());
        start.chunk.reset(new Chunk(*this, parts, id, std::move(folder), std::move(entry)));
        start.chunk->lone_ = lone;
        break;
    }
    const int error = errno;
    lock.unlock();
    keepAll(retired);
    errno = error;
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
    // The owner's stored finish heard again meets its reply before any upload of the id
    // another address began meanwhile; one of its own ended the reply.
    if (StoredFinish* stored = replies_.find(parts, id, peerIP)) {
        Claim claim;
        claim.storedReply = stored->reply;
        // The note on disk has served once the reply is written again.
        if (!stored->note.empty()) claim.noteAside = isLoneFile(stored->note) ? stored->note : retireOrRemove(stored->note);
        stored->note.clear();
        return claim;
    }
    if (!record || record->state == Record::State::finishing) return refusedClaim(UploadRefusal::notFound);
    if (!ownedBy(record->owner, peerIP)) return refusedClaim(UploadRefusal::forbidden);
    // Only chunks whose every byte is in count; nothing writes into the folder once it is
    // claimed. A finishing record is never forgotten by another request.
    record->state = Record::State::finishing;
    newGeneration(*record);
    left_.wait(lock, [&] { return !inFlightUpTo(parts, id, UINT64_MAX); });
    record = known(parts, id);
    if (record->lone) {
        Claim claim;
        claim.lone = true;
        claim.meta = record->meta;
        claim.loneFile = record->loneFile;
        claim.loneBytes = record->loneBytes;
        return claim;
    }
    const fs::path claimed = parts / (kClaimPrefix + id + "-" + randomHex(6));
    if (!renameToFreeName(parts / id, claimed)) {
        forget(shelfFor(parts), id);
        finishEnded_.notify_all();
        return refusedClaim(UploadRefusal::notFound);
    }
    Claim claim;
    claim.folder = claimed;
    return claim;
}

void UploadRecords::returnClaim(const fs::path& parts, const std::string& id, const fs::path& claimed) {
    Lock lock(lock_);
    const bool back = renameToFreeName(claimed, parts / id);
    Record* record = known(parts, id);
    if (record && record->state == Record::State::finishing) {
        if (back) {
            record->state = Record::State::live;
        } else {
            forget(shelfFor(parts), id);
        }
    }
    lock.unlock();
    finishEnded_.notify_all();
    if (!back) removeTree(claimed);
}

void UploadRecords::returnLoneClaim(const fs::path& parts, const std::string& id) {
    {
        Lock lock(lock_);
        Record* record = known(parts, id);
        if (record && record->state == Record::State::finishing) record->state = Record::State::live;
    }
    finishEnded_.notify_all();
}

fs::path UploadRecords::endFinished(const fs::path& parts, const std::string& id, const fs::path& claimed,
                                    const std::string& reply) {
    fs::path stored;
    {
        Lock lock(lock_);
        Record* record = known(parts, id);
        if (record) replies_.remember(StoredFinish{parts, id, record->owner, reply, clock_(), {}});
        // The lone file keeps its note until the reply is written.
        if (record && record->lone) stored = std::exchange(record->loneFile, fs::path());
        forget(shelfFor(parts), id);
    }
    finishEnded_.notify_all();
    return claimed.empty() ? stored : retireOrRemove(claimed);
}

void UploadRecords::keepSpare(const fs::path& spare) {
    if (isLoneFile(spare)) {
        removeLone(spare);
        return;
    }
    spares_.keep(spare);
}

UploadRefusal UploadRecords::cancel(const fs::path& parts, const std::string& id, const std::string& peerIP) {
    Lock lock(lock_);
    Record* record = find(parts, id);
    if (!record || record->state == Record::State::finishing) return UploadRefusal::none;
    if (!ownedBy(record->owner, peerIP)) return UploadRefusal::forbidden;
    const uint64_t ended = record->generation;
    newGeneration(*record);
    const fs::path aside = setAside(parts, id, *record);
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

void UploadRecords::Chunk::heard() { entry_->heardAt.store(records_.clock_(), std::memory_order_relaxed); }

UploadRecords::Record* UploadRecords::Chunk::counting() {
    Record* record = records_.known(parts_, id_);
    const bool counts = record && record->state == Record::State::live && record->generation == entry_->generation &&
                        !entry_->ended;
    return counts ? record : nullptr;
}

UploadRecords::Chunk::Put UploadRecords::Chunk::put(int64_t bytes, const std::function<bool()>& put) {
    std::lock_guard guard(records_.lock_);
    Record* record = counting();
    if (!record) return Put::dropped;
    if (!put()) return Put::failed;
    records_.touch(*record);  // a stored chunk is progress
    records_.noteStored(*record, entry_->index, bytes);
    return Put::counted;
}

std::optional<LoneRecord> UploadRecords::Chunk::loneRecord() {
    std::lock_guard guard(records_.lock_);
    const Record* record = counting();
    if (!record || !record->lone) return std::nullopt;
    return LoneRecord{id_, record->owner, record->meta, {}, 0};
}

UploadRecords::Chunk::Put UploadRecords::Chunk::putLone(int64_t bytes, PendingChunk& pending) {
    // A chunk without a name is recorded before the lock, which other requests then wait
    // for only while it is named; a failure here is tried again under the lock.
    if (pending.unnamed) {
        if (const auto record = loneRecord()) recordUnnamed(pending, *record);
    }
    std::lock_guard guard(records_.lock_);
    Record* record = counting();
    if (!record) return Put::dropped;
    if (record->lone) {
        if (!keepLoneChunk(parts_, pending, LoneRecord{id_, record->owner, record->meta, {}, 0})) return Put::failed;
        if (!record->loneFile.empty()) removeLone(record->loneFile);
        record->loneFile = pending.tempName;
        record->loneBytes = bytes;
    } else if (!moveLoneChunk(pending, parts_ / id_ / chunkFileName(0))) {
        return Put::failed;  // the upload was given a folder meanwhile: the chunk is its chunk 0 there
    }
    pending.tempName.clear();
    records_.touch(*record);
    records_.noteStored(*record, 0, bytes);
    return Put::counted;
}

void UploadRecords::leave(const Chunk& chunk) {
    std::vector<fs::path> free;
    {
        std::lock_guard guard(lock_);
        Record* record = known(chunk.parts_, chunk.id_);
        if (record) {
            std::erase(record->inFlight, chunk.entry_.get());
            if (removable(*record)) shelves_[chunk.parts_].erase(chunk.id_);
        }
        free = asideNowFree();
    }
    left_.notify_all();
    keepAll(free);
}

}  // namespace corvane
