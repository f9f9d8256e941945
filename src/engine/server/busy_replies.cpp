#include "engine/server/busy_replies.h"

#include <cerrno>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <vector>

#include "engine/server/http_response.h"

namespace corvane {

namespace {

constexpr std::chrono::milliseconds kPollEvery{100};

// The whole answer fits a fresh socket's send buffer: one write that never waits.
void answerBusy(int fd) {
    static const std::string body = *encodeJSONBody(errorJSON("busy"));
    const std::string reply =
        responseHead(503, {{"Content-Type", "application/json; charset=utf-8"}}, body.size()) +
        body;
    (void)::send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
}

// Reads and drops what waits; false once the peer closed or the connection broke.
bool dropWaiting(int fd) {
    char sink[16384];
    while (true) {
        const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace

BusyReplies::BusyReplies(size_t waiting, std::chrono::milliseconds drainFor)
    : waiting_(waiting), drainFor_(drainFor), thread_([this] { drainLoop(); }) {}

BusyReplies::~BusyReplies() { stop(); }

void BusyReplies::refuse(UniqueFd conn) {
    answerBusy(conn.get());
    {
        std::lock_guard guard(lock_);
        if (stopping_) return;
        // The oldest waiting closes beyond the bound, between two passes as well.
        if (!incoming_.empty() && incoming_.size() >= waiting_) incoming_.pop_front();
        incoming_.push_back(Refused{std::move(conn), std::chrono::steady_clock::now() + drainFor_});
    }
    arrived_.notify_one();
}

void BusyReplies::stop() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    arrived_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BusyReplies::drainLoop() {
    std::deque<Refused> refused;
    while (true) {
        {
            std::unique_lock guard(lock_);
            if (refused.empty()) arrived_.wait(guard, [&] { return stopping_ || !incoming_.empty(); });
            if (stopping_) return;
            for (Refused& one : incoming_) refused.push_back(std::move(one));
            incoming_.clear();
        }
        while (refused.size() > waiting_) refused.pop_front();
        drainOnce(refused);
    }
}

void BusyReplies::drainOnce(std::deque<Refused>& refused) {
    std::vector<pollfd> polled;
    polled.reserve(refused.size());
    for (const Refused& one : refused) polled.push_back(pollfd{one.fd.get(), POLLIN, 0});
    ::poll(polled.data(), polled.size(), int(kPollEvery.count()));
    const auto now = std::chrono::steady_clock::now();
    std::deque<Refused> kept;
    for (size_t k = 0; k < refused.size(); ++k) {
        const bool open = polled[k].revents == 0 || dropWaiting(refused[k].fd.get());
        if (open && now < refused[k].until) kept.push_back(std::move(refused[k]));
    }
    refused.swap(kept);
}

}  // namespace corvane
