#pragma once
// The chunks an upload's part folder holds, and the received file they become.
//
// A chunk body of exactly the chunk size is written in place into the folder's one data
// file, at index x chunk size, and its byte in the held file ("held", one byte per index)
// says it is held; the byte is set only once the chunk's last byte is written. Any other
// chunk (shorter, longer, empty) is a chunk file of its own ("%012d.part"), as in folders
// written before the data file existed. When both hold one index, the chunk file is the
// newer: a chunk put in place removes the chunk file of its index.
//
// A chunk is written relative to the folder it opened, and counts only once it is put:
// written aside and renamed in, or marked held. Whoever decides whether it still counts
// (UploadRecords) runs the put.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/body_pace.h"
#include "base/unique_fd.h"

namespace corvane {

// "%012d.part": the chunk file of an index.
std::string chunkFileName(int64_t index);

// The upload's meta, "meta.json".
extern const char* const kMetaFile;

// Writes meta.json whole into the opened folder, replacing the one there; false on
// failure. In a folder reused from a spare, the file that held the last upload's meta is
// written again and moved in (a new file costs about a millisecond on ext4); a reader
// sees the old or the new meta.
bool writeMetaFile(int folder, std::string_view bytes);

// One held chunk: its bytes in the data file (file empty), or in its chunk file.
struct HeldChunk {
    int64_t index = 0;
    std::filesystem::path file;
    bool inPlace() const { return file.empty(); }
};

struct PartListing {
    std::vector<int64_t> received;  // each held index once, in the order the listing gives
    std::vector<HeldChunk> chunks;  // in index order, one per index
};

// What the part folder holds; none when it cannot be listed.
std::optional<PartListing> listPartFolder(const std::filesystem::path& folder);

// A chunk body on its way from a socket.
struct ChunkBody {
    int sock = -1;
    std::string_view start;  // the bytes that came with the request head
    int64_t length = 0;
    BodyPace pace;
    std::function<void()> heard;  // called as bytes come from the socket; may be empty
};

// A chunk whose every byte is written into its folder but that does not count yet.
struct PendingChunk {
    int folder = -1;
    int64_t index = 0;
    std::string tempName;  // the chunk file written aside; empty when written in place
    UniqueFd held;         // in place: the held file, the index's byte cleared
    UniqueFd unnamed;      // a lone chunk written into a file without a name yet (O_TMPFILE)
    std::string recorded;  // the record already on the file without a name
};

enum class ChunkWrite { written, cutShort, failed };

// Writes the chunk of this index into the opened folder: in place when it is exactly the
// chunk size (its index no longer held from the first byte on), else aside as a
// temporary chunk file. A body cut short or a failed write leaves nothing aside.
ChunkWrite writeChunk(int folder, int64_t index, const ChunkBody& body, PendingChunk& pending);
// Makes a written chunk count: its chunk file renamed in, or its index marked held.
bool putChunk(PendingChunk& pending);
// Removes a written chunk that is not to count (its chunk file aside).
void discardChunk(PendingChunk& pending);

// The byte length of a held chunk; none when its chunk file cannot be read.
std::optional<int64_t> chunkLength(const HeldChunk& chunk);

// The received file built inside the part folder from its chunks.
struct AssembledFile {
    enum class Outcome { built, openFailed, mergeFailed };
    Outcome outcome = Outcome::built;
    std::filesystem::path path;
    bool joinedAside = false;  // a new file: the caller removes it when it cannot be moved
};

// Builds the file from the chunks (in index order from 0 without a gap, as the listing
// gives them). When the in-place chunks come first and the chunk files after them, the
// data file is cut after the last in-place chunk and the few chunk files are appended; a
// lone chunk file is used as it is; otherwise a new file is joined in index order. On a
// failure nothing new is left behind and the chunks stay as they were.
AssembledFile assembleChunks(const std::filesystem::path& folder, const std::vector<HeldChunk>& chunks);

// The newest modification time of the folder and of what it holds (a chunk written in
// place changes its files' times, not the folder's); none when the folder cannot be read.
std::optional<std::filesystem::file_time_type> newestChange(const std::filesystem::path& folder);

// Emptied part folders kept for the next uploads' part folders: on ext4, making and
// removing a folder costs about a millisecond each, moving one a few microseconds. A spare
// sits in the parts folder as ".spare-<hex>"; hidden entries left by an earlier run are
// removed at the next start.
class SpareFolders {
public:
    // An empty folder in the parts folder under a hidden name of its own, to become a
    // part folder: a kept spare, else a new folder; empty when none could be made.
    std::filesystem::path take(const std::filesystem::path& parts);
    // Moves a part folder aside under a spare's name; the new path, empty when it stayed.
    static std::filesystem::path retire(const std::filesystem::path& folder);
    // Empties a folder moved aside (its entries and its finish's note; the meta file is
    // kept under a hidden name for writeMetaFile, and the owner it records is replaced
    // before it serves again) and keeps it; removes it instead
    // when enough are kept or something in it cannot be removed.
    void keep(const std::filesystem::path& spare);
    // Forgets the spares of the parts folder (removed at start with what else is hidden).
    void forget(const std::filesystem::path& parts);

private:
    bool add(const std::filesystem::path& spare);

    std::mutex lock_;  // guards spares_
    std::vector<std::filesystem::path> spares_;
};

}  // namespace corvane
