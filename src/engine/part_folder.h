#pragma once
// The chunks an upload's part folder holds, and the received file they become.
//
// A chunk body of exactly the chunk size is written in place into the folder's one data
// file, at index x chunk size, and its byte in the held file ("held", one byte per index)
// says it is held; the byte is set only once the chunk's last byte is written. Mark files
// ("%012d.held") of folders written before the held file count as well. Any other chunk
// (shorter, longer, empty) is a chunk file of its own ("%012d.part"), as in folders written
// before the data file existed. When both hold one index, the chunk file is the newer: a
// chunk stored in place removes the chunk file of its index once it is written.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/body_pace.h"

namespace corvane {

// "%012d.part": the chunk file of an index.
std::string chunkFileName(int64_t index);

// The upload's meta, "meta.json".
extern const char* const kMetaFile;

// Writes meta.json whole, replacing the one there; false on failure. In a folder reused
// from a spare, the file that held the last upload's meta is written again and moved in
// (a new file costs about a millisecond on ext4); a reader sees the old or the new meta.
bool writeMetaFile(const std::filesystem::path& folder, std::string_view bytes);

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
};

enum class StoredChunk { stored, cutShort, failed };

// Stores the chunk of this index, in place when it is exactly the chunk size, else as its
// chunk file (written aside and renamed in). A body cut short or a failed write leaves the
// index not held.
StoredChunk storeChunk(const std::filesystem::path& folder, int64_t index, const ChunkBody& body);

// Removes every held chunk and the data file, keeping the meta and the owner.
void removeChunks(const std::filesystem::path& folder);

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

// Emptied part folders kept for the next uploads' part folders: on ext4, making and
// removing a folder costs about a millisecond each, moving one a few microseconds. A spare
// sits in the parts folder as ".spare-<hex>"; spares left by an earlier run are removed
// at the next start.
class SpareFolders {
public:
    static bool isSpare(std::string_view name);

    // Makes the part folder, from a spare of its parts folder when one is kept. False
    // when it neither exists nor could be made.
    bool place(const std::filesystem::path& folder);
    // Empties a spent part folder (its entries, its owner; the meta file is kept under a
    // hidden name for writeMetaFile) and keeps it; removes it instead when enough are
    // kept or something in it cannot be removed.
    void keep(const std::filesystem::path& folder);
    // Spares kept in the parts folder.
    size_t heldIn(const std::filesystem::path& parts);

private:
    std::optional<std::filesystem::path> take(const std::filesystem::path& parts);
    bool add(const std::filesystem::path& spare);

    std::mutex lock_;  // guards spares_
    std::vector<std::filesystem::path> spares_;
};

}  // namespace corvane
