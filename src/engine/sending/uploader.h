#pragma once
// The send queue: files and folders become transfer tasks, at most two of
// which upload at a time, in queue order. Every member runs on the main thread;
// each upload's network and disk work runs on a thread of its own and posts its
// progress back through the main queue.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/main_queue.h"
#include "engine/sending/job_threads.h"
#include "engine/model.h"
#include "engine/sending/transfer_job.h"
#include "engine/sending/transfer_task.h"

namespace corvane {

// How the queue's transfers talk to a receiver and wait for one that went out of reach.
struct UploaderOptions {
    RequestTimeouts timeouts;  // each request of a transfer
    // While a receiver reached before cannot be reached (a link that went down, a laptop
    // that slept), its waiting files keep their places and the first is tried again this
    // long after each try that found no way...
    std::chrono::milliseconds retryPause{5000};
    // ...until it has been out of reach this long: from then on each fails with its reason.
    std::chrono::milliseconds giveUpAfter{std::chrono::minutes(30)};
};

// The tasks of one folder's regular files.
struct FolderTasks {
    std::vector<std::shared_ptr<TransferTask>> tasks;
    // Set when the folder held more files than one folder may yield: the line that
    // says so, written to the queue's log and shown to the user.
    std::optional<std::string> cutNotice;
};

class Uploader {
public:
    static constexpr int concurrency = 2;
    static constexpr size_t folderLimit = 3000;  // tasks one folder yields at most

    // `clock`: the steady seconds a transfer's speed and a receiver's time out of reach
    // are measured in (the process's steady clock when empty).
    explicit Uploader(MainQueue& mainQueue, TransferClock clock = {}, UploaderOptions options = {});
    // Abandons the running uploads and waits for their threads.
    ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    const std::vector<std::shared_ptr<TransferTask>>& tasks() const { return tasks_; }
    // Appends tasks to the queue (they start at the next pump).
    void append(const std::vector<std::shared_ptr<TransferTask>>& more);
    int activeCount() const { return activeCount_; }

    // A task for one file; none when its size cannot be read.
    static std::shared_ptr<TransferTask> makeTask(const std::filesystem::path& file, const std::string& rel,
                                                  const std::optional<Peer>& target);
    // Tasks for the regular files of a folder, hidden ones left out, at most 3,000;
    // a larger folder is cut, and the cut is written to the log and returned.
    FolderTasks expandDirectory(const std::filesystem::path& folder, const std::optional<Peer>& target);
    // Starts waiting tasks, first in queue order, while fewer than two run.
    void pump(const std::optional<Peer>& target, const std::optional<std::string>& pinOverride,
              const std::string& token, int myPort);
    // Marks the task cancelled; for a peer, asks the receiver to drop its partial upload.
    void cancel(const std::shared_ptr<TransferTask>& task);
    // Removes done, cancelled and failed tasks; the others keep their order.
    void clearFinished();
    // Modification time in milliseconds since 1970; 0 when unreadable.
    static double fileMTime(const std::filesystem::path& file);

    // Told of each file the receiver stored, with the task's target.
    std::function<void(const FileItem&, const std::optional<Peer>&)> onFinished;
    // The queue's log lines.
    std::function<void(const std::string&)> onLog;
    // The task list or a task's state, sent bytes, speed or resumed chunks changed.
    std::function<void()> onChange;

private:
    struct PumpArgs {
        std::optional<Peer> target;
        std::optional<std::string> pinOverride;
        std::string token;
        int myPort = 0;
    };
    void start(const std::shared_ptr<TransferTask>& task, const PumpArgs& args);
    void apply(const std::shared_ptr<TransferTask>& task, const TransferUpdate& update, const PumpArgs& args);
    // A transfer whose receiver could not be reached: the task waits again and its receiver
    // rests for a pause, or it fails once the receiver has been out of reach too long.
    void unreached(const std::shared_ptr<TransferTask>& task, const APIError& error, const PumpArgs& args);
    // Marks the receiver's waiting tasks as waiting for it to answer again, or clears the mark.
    void markOutOfReach(const std::string& receiver, bool outOfReach);
    // Where a task goes: the peer's address and port, or this device.
    static std::string receiverOf(const TransferTask& task);
    double now() const;
    void log(const std::string& line) const;
    void changed() const;

    // What the queue knows of one receiver's reach.
    struct Reach {
        // One of its status requests was answered: set by the transfer that heard it.
        std::shared_ptr<std::atomic<bool>> reached = std::make_shared<std::atomic<bool>>(false);
        std::optional<double> lostSince;  // the first try since then that found no way to it
        bool resting = false;             // no transfer to it starts until the pause ends
    };

    MainQueue& main_;
    TransferClock clock_;
    UploaderOptions options_;
    std::map<std::string, Reach> reach_;
    std::vector<std::shared_ptr<TransferTask>> tasks_;
    int activeCount_ = 0;
    bool pumping_ = false;
    // Shared with posted work so it can tell that the queue is gone (main thread only).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Set when the queue goes away: requests in flight are abandoned.
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    // Handles of ended transfers, each keeping its connection open for the next
    // transfer: a folder of small files then costs no connection per file.
    std::vector<std::shared_ptr<CurlSession>> idleSessions_;
    // Each transfer's and each cancel's network and disk work; last, so that its threads
    // end before anything they use goes.
    JobThreads threads_;
};

}  // namespace corvane
