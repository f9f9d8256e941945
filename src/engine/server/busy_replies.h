#pragma once
// Newcomers a full server turns away: each is answered 503 {"error":"busy"} at once, then
// what it still sends is read and dropped for a moment before the connection closes, so
// that its client reads the answer rather than a reset. One thread serves them all, and
// only the most recent few wait at once: a crowd of refused newcomers costs no thread and
// no slot.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/unique_fd.h"

namespace corvane {

class BusyReplies {
public:
    // At most `waiting` refused connections are drained at once, and as many wait between
    // two passes (beyond that the oldest closes), each drained for at most `drainFor`.
    explicit BusyReplies(size_t waiting = 256, std::chrono::milliseconds drainFor = std::chrono::seconds(2));
    ~BusyReplies();
    BusyReplies(const BusyReplies&) = delete;
    BusyReplies& operator=(const BusyReplies&) = delete;

    // Answers the connection busy without waiting, and hands it to the drain.
    void refuse(UniqueFd conn);
    // Closes every connection waiting and ends the thread.
    void stop();

private:
    struct Refused {
        UniqueFd fd;
        std::chrono::steady_clock::time_point until;
    };
    void drainLoop();
    // Reads what each has sent; closes those that ended or whose time is over.
    void drainOnce(std::deque<Refused>& refused);

    const size_t waiting_;
    const std::chrono::milliseconds drainFor_;
    std::mutex lock_;  // guards incoming_ and stopping_
    std::condition_variable arrived_;
    std::deque<Refused> incoming_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace corvane
