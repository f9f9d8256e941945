#include "engine/receiving/part_folder.h"

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

#include "base/file_names.h"
#include "base/json_fields.h"
#include "base/random_hex.h"
#include "base/transfer_sizes.h"
#include "base/unique_fd.h"
#include "base/upload_body.h"
#include "base/whole_files.h"
#include "engine/receiving/chunk_join.h"
#include "engine/receiving/finish_note.h"

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
const char* const kSparePrefix = ".spare-";
// In a spare folder: the file the last meta was in, to be written again.
const char* const kSpareMetaFile = ".meta-spare";
constexpr size_t kSparesKept = 4;

std::string indexedName(int64_t index, const char* suffix) {
    char name[40];
    std::snprintf(name, sizeof name, "%012lld%s", static_cast<long long>(index), suffix);
    return name;
}

// The index of a name that ends with the suffix and whose first 12 characters (the whole
// name when shorter) are a decimal number.
std::optional<int64_t> indexOf(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size() || !name.ends_with(suffix)) return std::nullopt;
    return parseIntText(name.substr(0, 12));
}

using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

Folder openListing(const fs::path& folder) { return Folder(::opendir(folder.c_str()), ::closedir); }

bool removeFileAt(int folder, const std::string& name) {
    return ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT;
}

// A hidden temporary file in the opened folder, open for writing.
struct TempFileAt {
    std::string name;
    UniqueFd fd;
};

TempFileAt createTempFileAt(int folder) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string name = ".tmp-" + randomHex(8);
        UniqueFd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd) return TempFileAt{std::move(name), std::move(fd)};
        if (errno != EEXIST) break;
    }
    return {};
}

// Written aside and renamed in, so a reader sees the file whole or not at all.
bool writeWholeFileAt(int folder, const char* name, std::string_view bytes) {
    TempFileAt temp = createTempFileAt(folder);
    if (!temp.fd) return false;
    if (writeFully(temp.fd.get(), bytes) && temp.fd.close() && ::renameat(folder, temp.name.c_str(), folder, name) == 0) {
        return true;
    }
    ::unlinkat(folder, temp.name.c_str(), 0);
    return false;
}

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

ChunkWrite outcomeOf(const BodyCopy& copy) {
    if (copy.end == BodyCopy::End::complete) return ChunkWrite::written;
    return copy.end == BodyCopy::End::cutShort ? ChunkWrite::cutShort : ChunkWrite::failed;
}

// Written straight into the data file at its place. The index is cleared first and held
// again only when the chunk is put, so a body cut short leaves it not held.
ChunkWrite writeInPlace(int folder, int64_t index, const ChunkBody& body, PendingChunk& pending) {
    UniqueFd held(::openat(folder, kHeldFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!held || !recordHeld(held.get(), index, false)) return ChunkWrite::failed;
    UniqueFd data(::openat(folder, kDataFile, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!data || ::lseek(data.get(), off_t(index * kChunkSize), SEEK_SET) < 0) return ChunkWrite::failed;
    const BodyCopy copy = copyBodyToFile(body.sock, body.start, body.length, data.get(), body.pace, body.heard);
    const bool closed = data.close();
    if (copy.end == BodyCopy::End::complete && !closed) return ChunkWrite::failed;
    pending.held = std::move(held);
    return outcomeOf(copy);
}

// Streamed into a temporary file, renamed into place when put: a chunk file is whole or absent.
ChunkWrite writeAside(int folder, const ChunkBody& body, PendingChunk& pending) {
    TempFileAt temp = createTempFileAt(folder);
    if (!temp.fd) return ChunkWrite::failed;
    const BodyCopy copy = copyBodyToFile(body.sock, body.start, body.length, temp.fd.get(), body.pace, body.heard);
    const bool closed = temp.fd.close();
    if (copy.end == BodyCopy::End::complete && closed) {
        pending.tempName = std::move(temp.name);
        return ChunkWrite::written;
    }
    const int error = copy.error != 0 ? copy.error : errno;
    ::unlinkat(folder, temp.name.c_str(), 0);
    errno = error;  // told as the storage's fault where it is one
    return copy.end == BodyCopy::End::complete ? ChunkWrite::failed : outcomeOf(copy);
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
// and its finish's note; false when an entry stayed. The owner it records stays: a spare
// records its next owner before it takes an upload's name.
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
    forgetNoteAttribute(folder);  // a note's file, if any, went with the entries
    return emptied;
}

}  // namespace

const char* const kMetaFile = "meta.json";

std::string chunkFileName(int64_t index) { return indexedName(index, kChunkSuffix); }

bool writeMetaFile(int folder, std::string_view bytes) {
    // Taken by a rename to a name of its own, so of two writers only one writes into it.
    const std::string taken = ".tmp-" + randomHex(8);
    if (::renameat(folder, kSpareMetaFile, folder, taken.c_str()) != 0) return writeWholeFileAt(folder, kMetaFile, bytes);
    // Written over and then cut to length: blocks already there are used again.
    UniqueFd fd(::openat(folder, taken.c_str(), O_WRONLY | O_CLOEXEC));
    const bool written = fd && writeFully(fd.get(), bytes) && ::ftruncate(fd.get(), off_t(bytes.size())) == 0 &&
                         fd.close();
    if (written && ::renameat(folder, taken.c_str(), folder, kMetaFile) == 0) return true;
    ::unlinkat(folder, taken.c_str(), 0);
    return false;
}

std::optional<PartListing> listPartFolder(const fs::path& folder) {
    const Folder listing = openListing(folder);
    if (!listing) return std::nullopt;
    PartListing part;
    std::set<int64_t> seen;
    std::map<int64_t, HeldChunk> byIndex;
    bool heldListed = false;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        heldListed = heldListed || name == kHeldFile;
        const auto index = indexOf(name, kChunkSuffix);
        if (!index) continue;
        if (seen.insert(*index).second) part.received.push_back(*index);
        // A chunk file is the newer of two copies of one index.
        byIndex[*index] = HeldChunk{*index, folder / std::string(name)};
    }
    // Without a held file there is nothing in place: no look for it (on FUSE a look for a
    // missing name is a round trip).
    const auto inPlace = heldListed ? heldIndices(folder) : std::vector<int64_t>();
    if (!inPlace) return std::nullopt;
    for (const int64_t index : *inPlace) {
        if (seen.insert(index).second) part.received.push_back(index);
        byIndex.try_emplace(index, HeldChunk{index, {}});
    }
    part.chunks.reserve(byIndex.size());
    for (auto& [index, chunk] : byIndex) part.chunks.push_back(std::move(chunk));
    return part;
}

ChunkWrite writeChunk(int folder, int64_t index, const ChunkBody& body, PendingChunk& pending) {
    pending.folder = folder;
    pending.index = index;
    if (body.length == kChunkSize) return writeInPlace(folder, index, body, pending);
    return writeAside(folder, body, pending);
}

bool putChunk(PendingChunk& pending) {
    const std::string chunkFile = chunkFileName(pending.index);
    if (!pending.tempName.empty()) {
        if (::renameat(pending.folder, pending.tempName.c_str(), pending.folder, chunkFile.c_str()) != 0) return false;
        pending.tempName.clear();
        return true;
    }
    return removeFileAt(pending.folder, chunkFile) && recordHeld(pending.held.get(), pending.index, true) &&
           pending.held.close();
}

void discardChunk(PendingChunk& pending) {
    if (!pending.tempName.empty()) ::unlinkat(pending.folder, pending.tempName.c_str(), 0);
    pending.tempName.clear();
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

std::optional<fs::file_time_type> newestChange(const fs::path& folder) {
    std::error_code ec;
    auto newest = fs::last_write_time(folder, ec);
    if (ec) return std::nullopt;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code statError;
        const auto changed = fs::last_write_time(it->path(), statError);
        if (!statError) newest = std::max(newest, changed);
    }
    return newest;
}

fs::path SpareFolders::take(const fs::path& parts) {
    {
        std::lock_guard guard(lock_);
        const auto found = std::find_if(spares_.begin(), spares_.end(), [&](const fs::path& p) { return p.parent_path() == parts; });
        if (found != spares_.end()) {
            fs::path spare = std::move(*found);
            spares_.erase(found);
            return spare;
        }
    }
    fs::path made = parts / (kSparePrefix + randomHex(6));
    return ::mkdir(made.c_str(), 0755) == 0 ? made : fs::path();
}

fs::path SpareFolders::retire(const fs::path& folder) {
    fs::path spare = folder.parent_path() / (kSparePrefix + randomHex(6));
    return renameToFreeName(folder, spare) ? spare : fs::path();
}

void SpareFolders::keep(const fs::path& spare) {
    std::error_code ec;
    if (!emptyFolder(spare) || !add(spare)) fs::remove_all(spare, ec);
}

void SpareFolders::forget(const fs::path& parts) {
    std::lock_guard guard(lock_);
    std::erase_if(spares_, [&](const fs::path& p) { return p.parent_path() == parts; });
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
