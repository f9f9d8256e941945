#include "engine/part_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "base/json_fields.h"
#include "base/random_hex.h"
#include "base/transfer_sizes.h"
#include "base/unique_fd.h"
#include "base/upload_body.h"
#include "base/whole_files.h"
#include "engine/chunk_join.h"
#include "engine/part_owner.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// The one file the chunks of the chunk size are written into, each at index x chunk size.
const char* const kDataFile = "data";
// One byte per index: 1 while the in-place chunk of that index is held whole. One small
// file written in place costs far less than a mark file made per chunk (a new inode
// each, about a millisecond on ext4 under write-back).
const char* const kHeldFile = "held";
const char* const kChunkSuffix = ".part";
// Mark files of folders written before the held file: still read and removed.
const char* const kMarkSuffix = ".held";
const char* const kSparePrefix = ".spare-";
// In a spare folder: the file the last meta was in, to be written again.
const char* const kSpareMetaFile = ".meta-spare";
constexpr size_t kSparesKept = 4;

std::string indexedName(int64_t index, const char* suffix) {
    char name[40];
    std::snprintf(name, sizeof name, "%012lld%s", static_cast<long long>(index), suffix);
    return name;
}

std::string markName(int64_t index) { return indexedName(index, kMarkSuffix); }

// The index of a name that ends with the suffix and whose first 12 characters (the whole
// name when shorter) are a decimal number.
std::optional<int64_t> indexOf(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size() || !name.ends_with(suffix)) return std::nullopt;
    return parseIntText(name.substr(0, 12));
}

using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

Folder openListing(const fs::path& folder) { return Folder(::opendir(folder.c_str()), ::closedir); }

bool removeFile(const fs::path& file) { return ::unlink(file.c_str()) == 0 || errno == ENOENT; }

// Sets the index's byte in the held file; clearing an index never held writes nothing.
bool recordHeld(int held, int64_t index, bool whole) {
    const char wanted = whole ? 1 : 0;
    if (!whole) {
        char now = 0;
        const ssize_t read = ::pread(held, &now, 1, off_t(index));
        if (read < 0) return false;
        if (read == 0 || now == wanted) return true;  // past the end, or already clear
    }
    return ::pwrite(held, &wanted, 1, off_t(index)) == 1;
}

// The indices the held file marks whole; none when it is there but cannot be read.
std::optional<std::vector<int64_t>> heldIndices(const fs::path& folder) {
    const FileRead held = readWholeFile(folder / kHeldFile);
    if (held.present && !held.readable) return std::nullopt;
    std::vector<int64_t> indices;
    for (size_t k = 0; k < held.bytes.size(); ++k) {
        if (held.bytes[k] == 1) indices.push_back(int64_t(k));
    }
    return indices;
}

StoredChunk outcomeOf(const BodyCopy& copy) {
    return copy.end == BodyCopy::End::cutShort ? StoredChunk::cutShort : StoredChunk::failed;
}

// Written straight into the data file at its place. The index is cleared first and held
// again only once every byte is written, so a body cut short leaves it not held.
StoredChunk storeInPlace(const fs::path& folder, int64_t index, const ChunkBody& body) {
    UniqueFd held(::open((folder / kHeldFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!held || !recordHeld(held.get(), index, false) || !removeFile(folder / markName(index))) {
        return StoredChunk::failed;
    }
    UniqueFd data(::open((folder / kDataFile).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!data || ::lseek(data.get(), off_t(index * kChunkSize), SEEK_SET) < 0) return StoredChunk::failed;
    const BodyCopy copy = copyBodyToFile(body.sock, body.start, body.length, data.get(), body.pace);
    const bool closed = data.close();
    if (copy.end != BodyCopy::End::complete) return outcomeOf(copy);
    if (!closed || !removeFile(folder / chunkFileName(index))) return StoredChunk::failed;
    return recordHeld(held.get(), index, true) && held.close() ? StoredChunk::stored : StoredChunk::failed;
}

// Streamed into a temporary file and renamed into place: a chunk file is whole or absent.
StoredChunk storeAsFile(const fs::path& folder, int64_t index, const ChunkBody& body) {
    TempFile temp = createTempFile(folder);
    if (!temp.fd) return StoredChunk::failed;
    const BodyCopy copy = copyBodyToFile(body.sock, body.start, body.length, temp.fd.get(), body.pace);
    const bool closed = temp.fd.close();
    const fs::path chunk = folder / chunkFileName(index);
    if (copy.end == BodyCopy::End::complete && closed && ::rename(temp.path.c_str(), chunk.c_str()) == 0) {
        return StoredChunk::stored;
    }
    ::unlink(temp.path.c_str());
    return copy.end == BodyCopy::End::complete ? StoredChunk::failed : outcomeOf(copy);
}

AssembledFile failure(AssembledFile::Outcome outcome) { return AssembledFile{outcome, {}, false}; }

FileRange rangeOf(const fs::path& folder, const HeldChunk& chunk) {
    if (chunk.inPlace()) return FileRange{folder / kDataFile, chunk.index * kChunkSize, kChunkSize};
    return FileRange{chunk.file};
}

// The data file cut after its first `inPlace` chunks (dropping bytes past them, also those
// an earlier try of this finish appended), with the remaining chunk files appended.
AssembledFile extendDataFile(const fs::path& folder, const std::vector<HeldChunk>& chunks, size_t inPlace) {
    const fs::path data = folder / kDataFile;
    UniqueFd fd(::open(data.c_str(), O_WRONLY | O_CLOEXEC));
    const int64_t end = int64_t(inPlace) * kChunkSize;
    if (!fd || ::ftruncate(fd.get(), off_t(end)) != 0) return failure(AssembledFile::Outcome::mergeFailed);
    std::vector<FileRange> rest;
    for (size_t k = inPlace; k < chunks.size(); ++k) rest.push_back(FileRange{chunks[k].file});
    const bool joined = joinFiles(fd.get(), rest, end);
    if (!fd.close() || !joined) return failure(AssembledFile::Outcome::mergeFailed);
    return {AssembledFile::Outcome::built, data, false};
}

// A new file of the chunks in index order, written beside them.
AssembledFile joinAside(const fs::path& folder, const std::vector<HeldChunk>& chunks) {
    TempFile joined = createTempFile(folder);
    if (!joined.fd) return failure(AssembledFile::Outcome::openFailed);
    std::vector<FileRange> ranges;
    ranges.reserve(chunks.size());
    for (const auto& chunk : chunks) ranges.push_back(rangeOf(folder, chunk));
    const bool written = joinFiles(joined.fd.get(), ranges);
    if (joined.fd.close() && written) return {AssembledFile::Outcome::built, joined.path, true};
    ::unlink(joined.path.c_str());
    return failure(AssembledFile::Outcome::mergeFailed);
}

// Removes every entry of the folder but its meta file, which is kept under a hidden name,
// and its owner; false when an entry stayed.
bool emptyFolder(const fs::path& folder) {
    const Folder listing = openListing(folder);
    if (!listing) return false;
    const int at = ::dirfd(listing.get());
    bool emptied = true;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || name == kSpareMetaFile) continue;
        const bool kept = name == kMetaFile && ::renameat(at, kMetaFile, at, kSpareMetaFile) == 0;
        if (!kept && ::unlinkat(at, entry->d_name, 0) != 0) emptied = false;
    }
    clearOwner(folder);
    return emptied;
}

}  // namespace

const char* const kMetaFile = "meta.json";

std::string chunkFileName(int64_t index) { return indexedName(index, kChunkSuffix); }

bool writeMetaFile(const fs::path& folder, std::string_view bytes) {
    // Taken by a rename to a name of its own, so of two writers only one writes into it.
    const fs::path taken = folder / (".tmp-" + randomHex(8));
    if (::rename((folder / kSpareMetaFile).c_str(), taken.c_str()) != 0) return writeWholeFile(folder / kMetaFile, bytes);
    // Written over and then cut to length: blocks already there are used again.
    UniqueFd fd(::open(taken.c_str(), O_WRONLY | O_CLOEXEC));
    const bool written = fd && writeFully(fd.get(), bytes) && ::ftruncate(fd.get(), off_t(bytes.size())) == 0 &&
                         fd.close();
    if (written && ::rename(taken.c_str(), (folder / kMetaFile).c_str()) == 0) return true;
    ::unlink(taken.c_str());
    return false;
}

std::optional<PartListing> listPartFolder(const fs::path& folder) {
    const Folder listing = openListing(folder);
    if (!listing) return std::nullopt;
    PartListing part;
    std::set<int64_t> seen;
    std::map<int64_t, HeldChunk> byIndex;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        const auto file = indexOf(name, kChunkSuffix);
        const auto mark = file ? std::nullopt : indexOf(name, kMarkSuffix);
        if (!file && !mark) continue;
        const int64_t index = file ? *file : *mark;
        if (seen.insert(index).second) part.received.push_back(index);
        // A chunk file is the newer of two copies of one index.
        if (file) byIndex[index] = HeldChunk{index, folder / std::string(name)};
        if (mark) byIndex.try_emplace(index, HeldChunk{index, {}});
    }
    const auto inPlace = heldIndices(folder);
    if (!inPlace) return std::nullopt;
    for (const int64_t index : *inPlace) {
        if (seen.insert(index).second) part.received.push_back(index);
        byIndex.try_emplace(index, HeldChunk{index, {}});
    }
    part.chunks.reserve(byIndex.size());
    for (auto& [index, chunk] : byIndex) part.chunks.push_back(std::move(chunk));
    return part;
}

StoredChunk storeChunk(const fs::path& folder, int64_t index, const ChunkBody& body) {
    if (body.length == kChunkSize) return storeInPlace(folder, index, body);
    return storeAsFile(folder, index, body);
}

void removeChunks(const fs::path& folder) {
    const Folder listing = openListing(folder);
    if (!listing) return;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (indexOf(name, kChunkSuffix) || indexOf(name, kMarkSuffix) || name == kDataFile || name == kHeldFile) {
            ::unlink((folder / std::string(name)).c_str());
        }
    }
}

std::optional<int64_t> chunkLength(const HeldChunk& chunk) {
    if (chunk.inPlace()) return kChunkSize;
    struct stat st {};
    if (::stat(chunk.file.c_str(), &st) != 0) return std::nullopt;
    return int64_t(st.st_size);
}

AssembledFile assembleChunks(const fs::path& folder, const std::vector<HeldChunk>& chunks) {
    const auto firstFile = std::find_if(chunks.begin(), chunks.end(), [](const HeldChunk& c) { return !c.inPlace(); });
    const bool filesAfter = std::none_of(firstFile, chunks.end(), [](const HeldChunk& c) { return c.inPlace(); });
    const auto inPlace = size_t(firstFile - chunks.begin());
    if (inPlace > 0 && filesAfter) return extendDataFile(folder, chunks, inPlace);
    // A lone chunk file is the file itself: nothing is copied.
    if (chunks.size() == 1) return {AssembledFile::Outcome::built, chunks.front().file, false};
    return joinAside(folder, chunks);
}

bool SpareFolders::isSpare(std::string_view name) { return name.starts_with(kSparePrefix); }

bool SpareFolders::place(const fs::path& folder) {
    if (const auto spare = take(folder.parent_path())) {
        if (::renameat2(AT_FDCWD, spare->c_str(), AT_FDCWD, folder.c_str(), RENAME_NOREPLACE) == 0) return true;
        // The folder came meanwhile: the spare waits for the next one.
        if (errno == EEXIST && add(*spare)) return true;
        std::error_code ec;
        fs::remove_all(*spare, ec);
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

void SpareFolders::keep(const fs::path& folder) {
    std::error_code ec;
    const fs::path spare = folder.parent_path() / (kSparePrefix + randomHex(6));
    if (!emptyFolder(folder) || ::rename(folder.c_str(), spare.c_str()) != 0) {
        fs::remove_all(folder, ec);
        return;
    }
    if (!add(spare)) fs::remove_all(spare, ec);
}

size_t SpareFolders::heldIn(const fs::path& parts) {
    std::lock_guard guard(lock_);
    return size_t(std::count_if(spares_.begin(), spares_.end(), [&](const fs::path& p) { return p.parent_path() == parts; }));
}

std::optional<fs::path> SpareFolders::take(const fs::path& parts) {
    std::lock_guard guard(lock_);
    const auto found = std::find_if(spares_.begin(), spares_.end(), [&](const fs::path& p) { return p.parent_path() == parts; });
    if (found == spares_.end()) return std::nullopt;
    fs::path spare = std::move(*found);
    spares_.erase(found);
    return spare;
}

bool SpareFolders::add(const fs::path& spare) {
    std::vector<fs::path> stale;
    bool added = false;
    {
        std::lock_guard guard(lock_);
        // Spares of a receive folder no longer in use are never taken again.
        const auto elsewhere = std::partition(spares_.begin(), spares_.end(),
                                              [&](const fs::path& p) { return p.parent_path() == spare.parent_path(); });
        stale.assign(elsewhere, spares_.end());
        spares_.erase(elsewhere, spares_.end());
        if (spares_.size() < kSparesKept) {
            spares_.push_back(spare);
            added = true;
        }
    }
    std::error_code ec;
    for (const fs::path& p : stale) fs::remove_all(p, ec);
    return added;
}

}  // namespace corvane
