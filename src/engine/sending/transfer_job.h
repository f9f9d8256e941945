#pragma once
// One upload of the send queue, run off the main thread: ask the receiver what
// it holds, send the meta and every missing 4 MiB chunk, then finish. Progress
// goes back to the queue as updates that the queue applies on the main thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/refusal.h"
#include "base/transfer_sizes.h"
#include "base/unique_fd.h"
#include "engine/sending/api_client.h"
#include "engine/sending/transfer_speed.h"
#include "engine/sending/transfer_task.h"

namespace corvane {


// What an upload tells the queue; every field that is set is applied.
struct TransferUpdate {
    std::optional<TransferState> state;
    std::optional<int64_t> sent;
    std::optional<double> speed;
    std::optional<int> resumedChunks;
    std::optional<std::string> log;
    std::optional<FileItem> stored;  // the receiver stored the file
    bool reached = false;            // the receiver answered the status request
    // The status request found no way to a receiver reached before: the upload ended
    // without a state of its own, for the queue to try it again or fail it.
    std::optional<APIError> unreached;
    bool finishUnanswered = false;   // with unreached: a finish went and was not answered
    bool ended = false;              // the upload is over and its slot free
};

// The client for a task's target: the peer's address, token and the given PIN,
// or this device's own server on loopback without credentials. None when the
// address does not form a URL.
std::optional<APIClient> clientForTarget(const std::optional<Peer>& target, const std::string& pin, int myPort);

// Number of chunks of a file: its size in 4 MiB chunks rounded up, and 1 for an empty file.
int64_t chunkCount(int64_t totalSize);

// The chunks a status reply says the receiver holds; empty when it holds none,
// or when its stored meta names another size (another version of the file).
std::set<int64_t> heldChunks(const nlohmann::json& status, int64_t totalSize);

// Where a transfer's chunks come from: the source file, opened when the transfer asks
// its modification time (else at the first chunk sent) and kept open to the last chunk,
// so that every chunk comes from one file even when another takes its name meanwhile.
// Chunks are sent from it without being read first.
class ChunkSource {
public:
    explicit ChunkSource(std::filesystem::path file) : file_(std::move(file)) {}

    // The file's modification time in milliseconds since 1970, from the opened file;
    // by its name when it does not open, 0 when unreadable.
    double modifiedMs();

    // The chunk as a slice of the open file, or why it cannot be sent: the system's
    // text when the file does not open, "文件在发送过程中被修改" when the file holds
    // fewer bytes than the chunk needs (it changed while it was being sent).
    Result<FileSlice> slice(int64_t offset, int64_t length);

private:
    std::filesystem::path file_;
    UniqueFd fd_;
};

// Modification time in milliseconds since 1970 (fraction kept); 0 when unreadable.
double fileMTimeMs(const std::filesystem::path& file);

// One request of an upload after its status: the meta, a chunk, or the finish.
struct UploadStep {
    enum class Kind { meta, chunk, finish };
    Kind kind = Kind::meta;
    int64_t index = 0;   // a chunk's
    int64_t length = 0;  // a chunk's bytes
    bool ahead = false;  // sent while the reply of a request before it was still due

    static UploadStep meta() { return {Kind::meta}; }
    static UploadStep chunk(int64_t index, int64_t length) { return {Kind::chunk, index, length}; }
    static UploadStep finish() { return {Kind::finish}; }
};

struct TransferJob {
    std::shared_ptr<TransferTask> task;
    std::optional<APIClient> client;
    std::function<void(TransferUpdate)> report;  // called on the upload's thread
    // The handle every request of the transfer goes through (one keep-alive connection),
    // used by no other transfer meanwhile; a new one when empty.
    std::shared_ptr<CurlSession> session;
    TransferClock clock;  // the steady clock when empty
    // Set once a status request of any transfer to this receiver was answered (shared by
    // them, so that a transfer that started before sees it too): from then a status request
    // that finds no way to it ends the transfer as `unreached` rather than sending the meta
    // into a dead link. None: never.
    std::shared_ptr<std::atomic<bool>> receiverAnswered;

    void run() const;

private:
    // Sends the steps and reads their replies in order, each chunk's request going out
    // while the reply of the one before is due (at most one chunk ahead); those at the
    // front may have been sent already. `sent`: the bytes the receiver holds. `mayGiveBack`:
    // a receiver that stops answering gives the file back to the queue rather than failing it.
    void runSteps(const APIClient& api, UploadPipe& pipe, std::vector<UploadStep>& steps, const std::string& id,
                  const PipeRequest& metaRequest, ChunkSource& source, int64_t sent, bool mayGiveBack) const;
    void sendStep(const APIClient& api, UploadPipe& pipe, UploadStep& step, const std::string& id,
                  const PipeRequest& metaRequest, const FileSlice& chunk, std::function<void(int64_t)> onSent,
                  bool followed = false) const;
    // A refused step that was sent ahead: the replies of those sent behind it are read;
    // the file, when its finish among them stored it.
    std::optional<FileItem> drainAfterRefusal(UploadPipe& pipe, const std::vector<UploadStep>& steps,
                                              size_t refused) const;
    void stored(const FileItem& item) const;
    void giveBack(const APIError& error, bool finishUnanswered) const;
    // The finish again, alone, after a try whose finish went unanswered: its reply gives the
    // file when that finish (or this one) stored it.
    APIResult<FileItem> finishOfLastTry(const APIClient& api, UploadPipe& pipe, const std::string& id) const;
    void end(TransferUpdate update) const;
    void fail(const std::string& text) const;
    // A failed request: the queue shows its description, the log keeps the library's text;
    // the upload protocol's own refusals read as what the user can do about them.
    void fail(const APIError& error) const;
    void fail(const std::string& shown, const std::string& logged) const;
    bool cancelled() const { return task->cancelRequested.load(); }
};

}  // namespace corvane
