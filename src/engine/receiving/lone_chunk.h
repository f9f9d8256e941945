#pragma once
// A file of one chunk, received without a part folder: its only chunk is a hidden file of
// its own in the parts folder (".lone-<hex>"), and the upload it belongs to is recorded
// on that file as an extended attribute (id, owner, meta). The finish notes its reply in
// the same attribute, links the file into the receive folder under a free name, answers,
// and only then removes the attribute and the hidden name. So a file of one chunk costs a
// create, a write, a close and an attribute to arrive, and an attribute, a link, an
// attribute removed and an unlink to be stored: no folder is made, moved or emptied (each
// a round trip or more on FUSE and GlusterFS).
//
// What a kill leaves, read at the next start:
// - a lone file without the attribute: a chunk not yet counted; it goes;
// - with the attribute and one name: a held chunk, the upload made again from it (a
//   finish noted but not stored yet included);
// - with a noted reply and a second name: the file was stored; the reply is kept for the
//   finish heard again, as a stored finish's note.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/body_pace.h"
#include "engine/receiving/part_folder.h"

namespace corvane {

// What a lone file records.
struct LoneRecord {
    std::string id;
    std::string owner;
    std::string meta;   // the meta text as stored
    std::string reply;  // a finish's reply should its link succeed; empty before a finish
    double at = 0;      // seconds since 1970: when the finish noted it
};

// Whether a name in the parts folder is a lone file's.
bool isLoneFile(const std::filesystem::path& entry);

// Whether lone files work in the parts folder: user extended attributes on files and hard
// links (tried once on a hidden file that is removed again).
bool loneFilesWork(const std::filesystem::path& parts);

// Writes the chunk body into a new file of the parts folder: one without a name where
// the file system makes such files (left in `pending.unnamed`; a name costs the folder's
// lock, which writers of other files then wait for while a new file's inode is found),
// else a lone file (its path in `pending.tempName`). A body cut short or a failed write
// leaves nothing.
ChunkWrite writeLoneChunk(const std::filesystem::path& parts, const ChunkBody& body, PendingChunk& pending);

// Records the upload on a chunk written without a name. No one else sees that file, so
// this needs no lock; keepLoneChunk writes the record again only if it changed since.
bool recordUnnamed(PendingChunk& pending, const LoneRecord& record);

// Records the upload on the written chunk and gives it its lone file's name where it has
// none yet: recorded first, so that no lone file is ever seen without its record. False
// when either failed (nothing named).
bool keepLoneChunk(const std::filesystem::path& parts, PendingChunk& pending, const LoneRecord& record);

// Moves the written chunk to `to` instead (its upload got a part folder meanwhile).
bool moveLoneChunk(PendingChunk& pending, const std::filesystem::path& to);

// Removes a written chunk that is not to count.
void discardLoneChunk(PendingChunk& pending);

// Records the upload (and, with a reply, the finish) on the lone file; false when it could not.
bool recordLone(const std::filesystem::path& file, const LoneRecord& record);

// What the lone file records; none when it records nothing readable.
std::optional<LoneRecord> readLone(const std::filesystem::path& file);

// Whether the lone file also has another name: a finish linked it into the receive folder.
bool linkedElsewhere(const std::filesystem::path& file);

// Removes what the lone file records, leaving the file (moved into a part folder).
void forgetLoneRecord(const std::filesystem::path& file);

// Removes the lone file: its attribute first, so that a file it was linked to as the
// stored file keeps nothing of ours.
void removeLone(const std::filesystem::path& file);

}  // namespace corvane
