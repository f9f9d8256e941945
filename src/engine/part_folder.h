#pragma once
// The chunks an upload's part folder holds, and the received file they become.
//
// A chunk body of exactly the chunk size is written in place into the folder's one data
// file, at index x chunk size, and a mark file ("%012d.held") says it is held; the mark is
// made only once the chunk's last byte is written. Any other chunk (shorter, longer,
// empty) is a chunk file of its own ("%012d.part"), as in folders written before the data
// file existed. When both hold one index, the chunk file is the newer: a chunk stored in
// place removes the chunk file of its index once it is written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/body_pace.h"

namespace corvane {

// "%012d.part": the chunk file of an index.
std::string chunkFileName(int64_t index);

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

}  // namespace corvane
