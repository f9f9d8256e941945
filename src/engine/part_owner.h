#pragma once
// Who owns an upload: the address whose chunk or meta made its part folder (until a meta
// from another address starts it afresh). Kept as an extended attribute of the folder,
// set exclusively, so of two first requests at once only one records itself, and no file
// is made for it (a new file costs about a millisecond on ext4). Where the file system
// keeps no extended attributes, and in folders written before, the record is the file
// "owner" in the folder.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

std::optional<std::string> ownerOf(const std::filesystem::path& folder);

struct Ownership {
    std::optional<std::string> owner;  // none when nothing could be recorded
    bool recordedNow = false;          // this request recorded its sender
};

// The upload's owner, recording the sender when none is recorded yet.
Ownership claimOwner(const std::filesystem::path& folder, const std::string& peerIP);

// Records the sender in place of the owner there.
void replaceOwner(const std::filesystem::path& folder, const std::string& peerIP);

// A first chunk that was not stored takes its record back: a request cut short leaves
// nothing of the upload behind.
void releaseOwner(const std::filesystem::path& folder, const std::string& peerIP);

// Finish and cancel come from the upload's owner, or from anyone for a part folder
// that names none (kept from before owners were recorded).
bool mayChange(const std::filesystem::path& folder, const std::string& peerIP);

// Forgets the recorded owner (of a folder emptied for another upload).
void clearOwner(const std::filesystem::path& folder);

}  // namespace corvane
