#pragma once
// Free names in a folder and moves that never replace: "a.txt", "a (1).txt", ...
// A name is taken by creating or renaming exclusively, so two writers racing for
// the same name never overwrite each other.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/unique_fd.h"

namespace corvane {

// The longest file name the file systems we write to accept, in bytes.
constexpr size_t kMaxNameBytes = 255;

// Candidate n of the free-name sequence (0 is the name itself, " (n)" goes before the
// extension), shortened on a character boundary to at most kMaxNameBytes bytes.
std::string numberedName(const std::string& name, int n);

// The wanted name, or "base (n).ext" with the first free n, in the folder. Tests only;
// after 9,999 tries the last candidate is returned unchecked.
std::string uniqueName(const std::filesystem::path& folder, const std::string& name);

// A file created exclusively under the first free name; fd is empty on failure.
struct UniqueFile {
    std::string name;
    UniqueFd fd;
};
UniqueFile openUnique(const std::filesystem::path& folder, const std::string& name, int mode = 0644);

// Renames without replacing an existing target; copies then removes across file systems.
// Where the file system refuses RENAME_NOREPLACE, a file moves by a hard link and the
// unlink of its source, a folder onto a name it reserved first; the way is found at the
// first move into a folder and kept for the moves after it.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// A rename on one file system to a name expected free, such as a hidden name of the
// program's own with a random part: as renameNoReplace where the file system has
// RENAME_NOREPLACE; elsewhere the name is looked at and then renamed to, so that only an
// empty folder made in between could be replaced (a name reserved first costs a folder
// made and one replaced, each a slow round trip on FUSE). False, errno set, when taken.
bool renameToFreeName(const std::filesystem::path& from, const std::filesystem::path& to);

// The last way of renameNoReplace, for file systems with neither RENAME_NOREPLACE nor
// hard links: reserves the target name with an exclusive create (a folder for a folder),
// then renames over the reserved, still empty entry. False, errno set, when the name is taken.
bool renameOverReservation(const std::filesystem::path& from, const std::filesystem::path& to);

// Moves a file into the folder under the first free name. The chosen name, or none.
// `beforeMove`, when given, is told each name just before the move to it is tried; when it
// answers false nothing is moved.
std::optional<std::string> moveUnique(const std::filesystem::path& source, const std::filesystem::path& folder,
                                      const std::string& name,
                                      const std::function<bool(const std::string& candidate)>& beforeMove = {});

// Local time as "yyyyMMdd-HHmmss".
std::string timestampString();

}  // namespace corvane
