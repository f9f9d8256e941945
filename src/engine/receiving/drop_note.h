#pragma once
// What a drop promised the dropped upload's sender, kept in the parts folder so that a
// restart keeps it: until `keptUntil` the id stays the owner's, and until `busyUntil` the
// owner's chunks of it are told busy rather than making it again without its meta. The
// note is the file ".dropped-<id>" of the parts folder, one per id, so that servers sharing
// the folder never write the same file.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

struct DropNote {
    std::string id;
    std::string owner;
    double keptUntil = 0;  // seconds since 1970, by the server's clock
    double busyUntil = 0;
};

// Notes the drop in the parts folder, replacing a note of the id; false when it could not.
bool noteDrop(const std::filesystem::path& parts, const DropNote& note);

// Whether the entry of the parts folder is a drop note.
bool isDropNote(const std::filesystem::path& entry);

// The note the drop note holds; none when it cannot be read.
std::optional<DropNote> readDropNote(const std::filesystem::path& entry);

// Removes the id's note, when there is one.
void forgetDrop(const std::filesystem::path& parts, const std::string& id);

}  // namespace corvane
