#pragma once
// One outgoing file of the send queue, and the states it goes through.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/model.h"

namespace corvane {

struct TransferState {
    enum class Kind { waiting, running, finishing, done, cancelled, failed };
    Kind kind = Kind::waiting;
    std::string message;  // failed: shown to the user as it stands

    static TransferState waiting() { return {Kind::waiting, ""}; }
    static TransferState running() { return {Kind::running, ""}; }
    static TransferState finishing() { return {Kind::finishing, ""}; }
    static TransferState done() { return {Kind::done, ""}; }
    static TransferState cancelled() { return {Kind::cancelled, ""}; }
    static TransferState failed(std::string message) { return {Kind::failed, std::move(message)}; }

    // waiting, running and finishing count as active; the rest as finished.
    bool active() const { return kind == Kind::waiting || kind == Kind::running || kind == Kind::finishing; }
    bool operator==(const TransferState&) const = default;
};

class TransferTask {
public:
    using State = TransferState;

    TransferTask(std::string fileName, std::string relPath, int64_t totalSize, std::filesystem::path sourceURL,
                 std::optional<Peer> target);
    TransferTask(const TransferTask&) = delete;
    TransferTask& operator=(const TransferTask&) = delete;

    const std::string id;          // made at creation
    const std::string fileName;    // last path component of sourceURL
    const std::string relPath;     // "" for a file sent by itself; "Folder/sub/name" for one found in a folder
    const int64_t totalSize;       // bytes when the task was made
    const std::filesystem::path sourceURL;
    const std::optional<Peer> target;  // empty: this device

    // Shown by the queue panel; read and written on the main thread only.
    State state = State::waiting();
    int64_t sent = 0;
    double speed = 0;  // bytes per second
    int resumedChunks = 0;
    // Waiting because its receiver, reached before, could not be reached at the last try;
    // cleared once it answers again (the queue tries it again meanwhile).
    bool receiverOutOfReach = false;
    // Given back after its finish went out unanswered: that finish may have stored the file,
    // so the next try asks the finish again before anything else.
    bool finishUnanswered = false;

    // Set by Uploader::cancel on the main thread; the upload reads it between steps.
    std::atomic<bool> cancelRequested{false};
};

}  // namespace corvane
