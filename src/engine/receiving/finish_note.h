#pragma once
// What a finish is about to store, noted on its claimed part folder before the file leaves
// it. At the next start a claim whose noted file is gone is not given back (the file was
// stored, and what stays in the folder could only store it again or fail), and the owner's
// finish heard again gets the noted reply. The note is an extended attribute of the folder
// (no file is made for it); where the file system keeps none, the file "stored.json" in it.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

struct FinishNote {
    std::string id;
    std::string owner;
    std::string file;   // the name, in the folder, of the file the finish moves out
    std::string reply;  // the finish's reply should the move succeed
    double at = 0;      // seconds since 1970, by the server's clock: when the finish stored it
};

// Notes the finish on the folder, replacing the note there; false when it could not.
bool noteFinish(const std::filesystem::path& folder, const FinishNote& note);

// The folder's note once its file has left the folder; none when there is no note, it
// cannot be read, or the file is still there and has no other name (the finish stored
// nothing). A file with a second name was linked into the receive folder by a move that
// was stopped before it unlinked the source: it was stored.
std::optional<FinishNote> storedFinish(const std::filesystem::path& folder);

// Removes the folder's note: its finish stored nothing, or the folder is emptied for reuse.
void forgetFinishNote(const std::filesystem::path& folder);
// Removes the note's attribute only, where the note's file is known to be gone.
void forgetNoteAttribute(const std::filesystem::path& folder);

// Removes everything in the folder but its note, which is kept while its reply may be
// asked for; false when something else stayed.
bool keepOnlyFinishNote(const std::filesystem::path& folder);

}  // namespace corvane
