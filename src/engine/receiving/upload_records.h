#pragma once
// Who owns each unfinished upload and which of its chunks are in flight, decided in one
// place under one lock.
//
// An upload belongs to the address whose chunk or meta made its part folder; the folder
// records it on disk (part_owner.h) before it takes the upload's name, and keeps it until
// the folder is gone. A folder that records no owner (made before owners were recorded)
// is foreign to every address. A meta from another address takes a quiet upload over: its
// folder is moved aside and a new one takes its place. An upload is quiet when no chunk of
// its owner has heard a byte for 30 s and 30 s have passed since its last change; only its
// creation and its stored chunks change it. Every takeover, cancel, finish and drop gives
// the upload a new generation and ends the chunks of the generation before: their
// connections are shut, and none of their bytes reach the upload that follows or the file
// a finish stores. A chunk writes into the folder it opened and is put in place, under the
// lock, only while its generation is current. An upload being written (a chunk in flight
// that heard a byte within the quiet time) is never dropped to make room.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/unique_fd.h"
#include "engine/receiving/finish_replies.h"
#include "engine/receiving/lone_chunk.h"
#include "engine/receiving/part_folder.h"

namespace corvane {

// How many unfinished uploads a parts folder holds. A new upload beyond its address's limit
// drops that address's least recently changed one not being written. When all together
// hold the total, a new upload (made by a meta; a chunk never makes room) takes room by the
// rule every room shares (room_choice.h), each upload a unit: its progress the bytes of
// new chunks it stored over the last `quietGivesWay`, nothing a meta announces and not its
// age; its floor `progressFloor`; idle once quiet for `quietGivesWay`; `guaranteedFew`
// uploads per address kept while they store at the floor.
// Else the newcomer is refused as busy, unless its own least recently changed one may give
// way. One being written is never dropped. An address writes into at most as many uploads
// as it holds connections. A dropped upload's id stays its owner's for the quiet time, and
// its owner's chunks are told busy for `droppedToldBusy`, across restarts too.
struct UploadLimits {
    size_t total = 1000;
    size_t perAddress = 100;
    // Stored finishes whose reply is kept for the same finish heard again: per owner, and
    // in all (beyond that the oldest of the owner keeping the most goes).
    size_t storedReplies = 100;
    size_t storedRepliesInAll = 1000;
    // Seconds after its making or its last stored chunk that an upload waiting for its
    // next chunk still counts as being written, while its address holds a connection
    // beside the one asking.
    double betweenChunks = 2;
    // Seconds without progress (no chunk stored, none being written) after which an
    // upload gives way to any newcomer when the room is full, before any share is
    // weighed, the one quiet longest first: a crowd that went quiet holds nothing long.
    double quietGivesWay = 600;
    // Bytes an upload must store over the last `quietGivesWay` to count as progressing,
    // whatever size its meta announced.
    int64_t progressFloor = int64_t(1) << 20;
    // Uploads an address holds that never give way to a newcomer while each stores at the
    // floor: the send queue's two, a finish being joined and the next file made.
    int64_t guaranteedFew = 4;
    // Seconds a chunk of a dropped upload is answered busy rather than making it again
    // without its meta.
    double droppedToldBusy = 86400;
};

enum class UploadRefusal { none, notFound, forbidden, busy, failed };

class UploadRecords {
    struct InFlight;
    struct Record;

public:
    // Seconds a meta from another address waits after the owner's last change, and after
    // the last byte of a chunk of the owner in flight.
    static constexpr double kQuietBeforeTakeover = 30;
    // Seconds a stored finish's reply is kept.
    static constexpr double kStoredReplyKept = FinishReplies::kKept;

    // `clock` gives seconds since 1970; `connectionsOf` the connections an address holds
    // open (none when not given).
    UploadRecords(UploadLimits limits, std::function<double()> clock,
                  std::function<int(const std::string&)> connectionsOf = {});
    UploadRecords(const UploadRecords&) = delete;
    UploadRecords& operator=(const UploadRecords&) = delete;

    // At start: claims of finishes cut short go back to their uploads (or away when a new
    // folder of the id exists) unless their file was stored, whose reply is then kept as a
    // stored finish's (finish_note.h), its note staying on disk until the reply is given
    // again or its time is over; hidden leftovers go, part folders whose newest change is
    // older than `abandonedAfter` seconds go, and the owners of the rest are read.
    void open(const std::filesystem::path& parts, double abandonedAfter);


    // A meta: the owner's keeps the upload, another address's takes a quiet one over, a
    // new id makes the upload. `stored` is the meta's text as kept; `loneSize`, the
    // file's size when the meta announces a file of one chunk. Such an upload gets no
    // part folder while it is one: its meta is kept with the record, its chunk in a lone
    // file (lone_chunk.h), where the parts folder allows.
    // A failed refusal, here and of beginChunk, leaves errno as the failing call set it.
    UploadRefusal admitMeta(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP,
                            const std::string& stored, std::optional<int64_t> loneSize);

    // What the address may see of the upload, for its status: whether it owns it, and of
    // a lone upload its meta and whether its chunk is held (one with a part folder shows
    // what its folder holds).
    struct View {
        bool owned = false;
        bool lone = false;
        std::string meta;
        bool held = false;
    };
    View view(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP);

    // One chunk on its way in; it leaves the record when it is destroyed.
    class Chunk {
    public:
        ~Chunk();
        Chunk(const Chunk&) = delete;
        Chunk& operator=(const Chunk&) = delete;
        enum class Put { counted, dropped, failed };
        int folder() const { return folder_.get(); }
        // The chunk is the whole file of a lone upload: written with writeLoneChunk and
        // put with putLone, not into a folder.
        bool lone() const { return lone_; }
        // Bytes of the body came: the chunk still counts as in flight for the quiet rule.
        void heard();
        // Runs `put` under the lock while the chunk still counts: its sender owns the same
        // upload (same generation) and no later chunk of its index came. Dropped when it
        // no longer counts (its connection was shut), failed when `put` failed. `bytes` is
        // what the chunk stored.
        Put put(int64_t bytes, const std::function<bool()>& put);
        // The same for a lone chunk written with writeLoneChunk: recorded on its file, which
        // is held in place of any lone chunk before it.
        Put putLone(int64_t bytes, PendingChunk& pending);

    private:
        friend class UploadRecords;
        Chunk(UploadRecords& records, std::filesystem::path parts, std::string id, UniqueFd folder,
              std::unique_ptr<InFlight> entry);
        // The upload's record while the chunk still counts (same generation, not ended);
        // null otherwise. Under the records' lock.
        Record* counting();
        // What a lone chunk records while it still counts: the upload's owner and meta now.
        std::optional<LoneRecord> loneRecord();
        UploadRecords& records_;
        std::filesystem::path parts_;
        std::string id_;
        UniqueFd folder_;
        std::unique_ptr<InFlight> entry_;
        bool lone_ = false;
    };
    struct ChunkStart {
        UploadRefusal refusal = UploadRefusal::none;
        std::unique_ptr<Chunk> chunk;
    };
    // A chunk from the owner (a new id makes the upload while there is room, else it is
    // answered busy; a chunk of a dropped upload, busy too); `sock` is shut down should the
    // upload leave the chunk's generation while it is in flight. A chunk of the same index
    // still in flight is ended first.
    ChunkStart beginChunk(const std::filesystem::path& parts, const std::string& id, int64_t index,
                          int64_t length, const std::string& peerIP, int sock);

    // A finish by the owner: ends the chunks in flight, waits until they are out, and
    // moves the part folder aside under a claim of its own. The claimed folder, or why not.
    // The owner's finish heard again (its reply was lost) waits while the one before is
    // joining, and once the upload is stored, it gets the stored finish's reply instead of
    // a folder for a short while, before any upload of the id another address began is
    // looked at (a new upload of the owner's own ends the reply).
    struct Claim {
        UploadRefusal refusal = UploadRefusal::none;
        std::filesystem::path folder;
        std::string storedReply;
        // The folder that held the reply's note since a start, moved aside: emptied with
        // keepSpare once the reply is written.
        std::filesystem::path noteAside;
        // A lone upload: no folder is claimed; its meta, and its lone file (empty when no
        // chunk is held) with the bytes it holds.
        bool lone = false;
        std::string meta;
        std::filesystem::path loneFile;
        int64_t loneBytes = 0;
    };
    Claim claimForFinish(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP);
    // A finish that stored nothing gives the folder back.
    void returnClaim(const std::filesystem::path& parts, const std::string& id, const std::filesystem::path& claimed);
    // A lone upload's finish that stored nothing.
    void returnLoneClaim(const std::filesystem::path& parts, const std::string& id);
    // The upload is stored and its finish answers `reply`: it is forgotten but for that
    // reply, and its folder is moved aside as a spare at once, so a kill from here on
    // leaves nothing to restore. Empty it with keepSpare. A lone upload's file stays, its
    // note on it, until keepSpare is given it once the reply is written.
    std::filesystem::path endFinished(const std::filesystem::path& parts, const std::string& id,
                                      const std::filesystem::path& claimed, const std::string& reply);
    // Empties and keeps a spent folder, or removes a spent lone file.
    void keepSpare(const std::filesystem::path& spare);

    // A cancel by the owner: the chunks in flight end and the part folder goes. An unknown
    // id, or one being finished, is no refusal.
    UploadRefusal cancel(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP);

private:
    struct InFlight {
        int sock = -1;
        uint64_t generation = 0;
        int64_t index = 0;
        bool ended = false;
        std::atomic<double> heardAt{0};  // by the clock: the last byte came; set without the lock
    };
    struct Record {
        enum class State { live, finishing, gone };
        State state = State::live;
        std::string owner;  // empty: the folder records none
        uint64_t generation = 0;
        std::vector<InFlight*> inFlight;  // a gone record stays while it has any
        double changedAt = 0;             // by the clock: made, or a chunk stored; from disk at start
        uint64_t changeOrder = 0;         // larger: changed later
        double keptUntil = 0;             // gone after a drop: the id stays the owner's until then
        double busyUntil = 0;             // gone after a drop: the owner's chunks are told busy until then
        std::set<int64_t> storedIndices;  // the chunks whose bytes counted as progress
        // A lone upload (no part folder): its meta text, the size that keeps it lone, and
        // its lone file once its chunk is held.
        bool lone = false;
        std::string meta;
        int64_t loneSize = 0;
        std::filesystem::path loneFile;
        int64_t loneBytes = 0;
        // Bytes of new chunks stored lately, in spans of ten seconds, oldest first.
        std::vector<std::pair<double, int64_t>> storedLately;
    };
    // A folder moved aside while chunks of the generations up to `ended` still write into
    // it: it becomes a spare once they are out.
    struct AsideWhileWritten {
        std::filesystem::path parts;
        std::string id;
        uint64_t ended = 0;
        std::filesystem::path folder;
    };
    // The uploads of one parts folder, by id.
    using Shelf = std::unordered_map<std::string, Record>;
    using Lock = std::unique_lock<std::mutex>;

    Shelf& shelfFor(const std::filesystem::path& parts);
    // The record held for the id, whatever its state; null when none is.
    Record* known(const std::filesystem::path& parts, const std::string& id);
    void loadShelf(Shelf& shelf, const std::filesystem::path& parts);
    // A hidden entry left by an earlier run: kept, emptied but for its note, while its
    // stored finish's reply is kept; else removed.
    void keepNoteOrRemove(const std::filesystem::path& parts, const std::filesystem::path& entry);
    // The upload's record, read from its folder when the folder is there but unknown; null
    // when there is no upload.
    Record* find(const std::filesystem::path& parts, const std::string& id);
    // Seconds a look that found no folder is trusted, and how many such looks are kept.
    static constexpr double kMissTrusted = 2;
    static constexpr size_t kMissesKept = 256;
    void noteMiss(const std::filesystem::path& folder, double now);
    // A new upload owned by the address, in a folder prepared aside and moved in, or
    // (`lone`) in the record alone. A chunk (`byChunk`) makes no room: with the room full
    // it is refused busy.
    Record* create(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP,
                   std::vector<std::filesystem::path>& retired, UploadRefusal& refusal, bool byChunk = false,
                   bool lone = false);
    // Whether lone uploads work in the parts folder, tried once per folder.
    bool lonePossible(const std::filesystem::path& parts);
    // A lone upload becomes one with a part folder: its meta written into it and its held
    // chunk moved in as chunk 0. False when the folder could not be made.
    bool giveFolder(const std::filesystem::path& parts, const std::string& id, Record& record,
                    std::vector<std::filesystem::path>& retired);
    // Removes what a lone upload holds on disk (its held chunk).
    static void dropLoneChunk(Record& record);
    // The upload's folder or lone chunk goes: the folder aside (returned, empty when it was
    // removed or there was none), the lone chunk removed.
    static std::filesystem::path setAside(const std::filesystem::path& parts, const std::string& id, Record& record);
    // At start: a lone file left by an earlier run, as its record says (lone_chunk.h).
    void loadLone(Shelf& shelf, const std::filesystem::path& parts, const std::filesystem::path& file);
    // A folder moved aside: a spare at once, or once the ended chunks are out of it.
    void retireAside(const std::filesystem::path& parts, const std::string& id, uint64_t ended,
                     const std::filesystem::path& aside, std::vector<std::filesystem::path>& retired);
    // The folders aside whose chunks are all out; they leave the waiting list.
    std::vector<std::filesystem::path> asideNowFree();
    // Another address's meta on a quiet upload: a new folder replaces the old.
    bool takeOver(const std::filesystem::path& parts, const std::string& id, const std::string& peerIP,
                  std::vector<std::filesystem::path>& retired);
    // A folder in the parts folder, not yet under the id, recording the owner; empty when
    // none could be made (what was made is then in `retired`).
    std::filesystem::path prepareFolder(const std::filesystem::path& parts, const std::string& peerIP,
                                        std::vector<std::filesystem::path>& retired);
    // A record read from the folder of an upload the records did not know.
    Record& readRecord(Shelf& shelf, const std::string& id, const std::filesystem::path& folder);
    // Ends a chunk in flight: its connection is shut down, and it no longer counts.
    static void end(InFlight& chunk);
    // A new generation: every chunk of the ones before is ended.
    void newGeneration(Record& record);
    // The upload's folder is gone; the record goes with its last chunk in flight, and once
    // its id is no longer kept for its owner.
    void forget(Shelf& shelf, const std::string& id);
    bool removable(const Record& record) const;
    void touch(Record& record);
    bool inFlightUpTo(const std::filesystem::path& parts, const std::string& id, uint64_t generation);
    bool takeoverAllowed(const Record& record) const;
    // A chunk of the current generation that heard a byte within the quiet time.
    bool writing(const Record& record) const;
    // Ends the chunks of the index in flight; whether any of them is still in.
    static bool endSameIndex(Record& record, int64_t index);
    void leave(const Chunk& chunk);
    void keepAll(const std::vector<std::filesystem::path>& retired);
    // Shares of the room and drops (upload_shares.cpp).
    bool makeRoom(Shelf& shelf, const std::filesystem::path& parts, const std::string& peerIP,
                  std::vector<std::filesystem::path>& retired);
    struct Room {
        bool needed = false;
        std::string givesWay;  // the upload that goes; empty when none may: the newcomer is refused
    };
    // The upload that gives way, among those not being written.
    Room roomFor(const Shelf& shelf, const std::string& peerIP) const;
    // Whether the parts folder holds all the live uploads it may.
    bool full(const Shelf& shelf) const;
    // Bytes the upload stored over the last `quietGivesWay`.
    int64_t storedRecently(const Record& record) const;
    // Notes bytes a chunk stored; a chunk stored again is no progress.
    void noteStored(Record& record, int64_t index, int64_t bytes);
    // The uploads being written between two chunks: per address, those made or given a
    // chunk within `betweenChunks` seconds, the latest first, as many as its open
    // connections (not counting the one asking, `peerIP`'s) exceed its chunks in flight.
    std::set<std::string> betweenChunks(const Shelf& shelf, const std::string& peerIP) const;
    // Drops a live upload as a cancel would; its id stays its owner's for the quiet time.
    // False (nothing dropped) when what it promises the owner could not be noted.
    bool drop(Shelf& shelf, const std::filesystem::path& parts, const std::string& id,
              std::vector<std::filesystem::path>& retired);
    // Whether another address holds the id of an upload dropped within the quiet time.
    bool keptForAnother(const Shelf& shelf, const std::string& id, const std::string& peerIP) const;
    // Whether the address's own upload of the id was dropped within the quiet time.
    bool droppedFrom(const Shelf& shelf, const std::string& id, const std::string& peerIP) const;
    const Record* keptDropped(const Shelf& shelf, const std::string& id) const;
    // Keeps the number of dropped ids held bounded: expired ones go, then, beyond the
    // limit, the oldest of the address holding the most.
    void trimKeptIds(Shelf& shelf, const std::filesystem::path& parts);
    // A drop noted by an earlier run: its id held again as the note says, or the note
    // removed once over (drop_note.h).
    void keepDrop(Shelf& shelf, const std::filesystem::path& parts, const std::filesystem::path& note);
    // Moves the folder aside for a spare; removes it when it cannot be. The folder aside,
    // or empty.
    static std::filesystem::path retireOrRemove(const std::filesystem::path& folder);

    const UploadLimits limits_;
    const std::function<double()> clock_;
    const std::function<int(const std::string&)> connectionsOf_;
    SpareFolders spares_;
    std::mutex lock_;  // guards shelves_, every record, replies_, asideWhileWritten_, nextGeneration_, nextChange_
    std::condition_variable left_;  // a chunk left its record
    std::condition_variable finishEnded_;  // a record left the finishing state
    std::map<std::filesystem::path, Shelf> shelves_;
    std::map<std::filesystem::path, bool> loneWorks_;  // by parts folder, once tried
    std::map<std::filesystem::path, double> missedAt_;  // part folders looked for and not found, by the clock
    FinishReplies replies_;
    std::vector<AsideWhileWritten> asideWhileWritten_;
    uint64_t nextGeneration_ = 1;
    uint64_t nextChange_ = 1;
};

}  // namespace corvane
