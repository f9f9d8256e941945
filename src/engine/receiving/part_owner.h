#pragma once
// The owner of an upload as its part folder records it on disk, so that it holds across
// restarts: an extended attribute of the folder (no file is made for it: a new file costs
// about a millisecond on ext4). Where the file system keeps no extended attributes, and
// in folders written before, the record is the file "owner" in the folder. Who may do
// what with an upload is decided by UploadRecords (upload_records.h), not here.

#include <filesystem>
#include <string>

namespace corvane {

// The address the folder records; empty when it records none.
std::string recordedOwner(const std::filesystem::path& folder);

// Records the address in the folder, replacing what it recorded; false when neither the
// attribute nor, where attributes are not supported, the file could be written.
bool recordOwner(const std::filesystem::path& folder, const std::string& peerIP);

// Forgets the recorded owner (of a folder emptied for another upload).
void clearOwner(const std::filesystem::path& folder);

}  // namespace corvane
