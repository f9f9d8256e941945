#include "engine/sending/upload_pipe.h"

#include <algorithm>
#include <curl/curl.h>
#include <thread>

namespace corvane {

UploadPipe::UploadPipe(PipeConnection& connection, std::string url, PipeLimits limits, int freshTries,
                       std::chrono::milliseconds resendPause)
    : connection_(connection), url_(std::move(url)), limits_(std::move(limits)), freshTries_(std::max(freshTries, 1)),
      resendPause_(resendPause) {}

UploadPipe::~UploadPipe() {
    if (std::any_of(queue_.begin(), queue_.end(), [](const Entry& e) { return e.written; })) connection_.abort();
}

void UploadPipe::send(PipeRequest request) {
    queue_.emplace_back();
    queue_.back().request = std::move(request);
    // Requests go in their order: none passes one still held, nor goes on a new connection
    // while those before it wait on one that broke.
    const bool first = queue_.size() == 1;
    if (!pipelined_ || (!first && (!queue_[queue_.size() - 2].written || !connection_.writable()))) return;
    write(queue_.back());
}

std::optional<CurlResult> UploadPipe::replyIfReady() {
    if (waitingForReply_ || queue_.empty() || !queue_.front().written || !connection_.replyReady()) return std::nullopt;
    bool unanswered = false;
    CurlResult result = connection_.read(limits_, unanswered);
    queue_.pop_front();
    answeredHere_ = true;
    if (!connection_.writable()) pipelined_ = false;  // the receiver closes after this reply
    return result;
}

void UploadPipe::forgetUnsent() {
    while (!queue_.empty() && !queue_.back().written) queue_.pop_back();
}

bool UploadPipe::write(Entry& entry) {
    // Small files and others go on connections of their own (PipeConnection::open).
    if (!connection_.writable() || !connection_.opensTo(url_) || connection_.carriesSmallFiles() != small_) {
        connection_.close();
        answeredHere_ = false;
        CurlResult opened = connection_.open(url_, limits_, small_);
        if (!opened.ok) {
            entry.failure = std::move(opened);
            return false;
        }
    }
    CurlResult written = connection_.write(entry.request, limits_);
    entry.written = true;  // only now: while it goes out, no reply is taken as its own
    // A connection that broke mid-request shows when its reply is read; any other
    // failure (time-out, abandoned, a file that ended early) is the request's own.
    if (!written.ok && written.code != CURLE_SEND_ERROR) entry.failure = std::move(written);
    return written.ok;
}

void UploadPipe::lose(bool fallBack) {
    connection_.abort();
    answeredHere_ = false;
    for (Entry& entry : queue_) entry.written = false;
    if (fallBack) pipelined_ = false;
}

void UploadPipe::tellLastBodyStill() const {
    const auto last = std::find_if(queue_.rbegin(), queue_.rend(), [](const Entry& e) { return e.written && e.request.onSent; });
    if (last == queue_.rend()) return;
    const PipeRequest& request = last->request;
    last->request.onSent(request.bodyFile.fd >= 0 ? request.bodyFile.length : int64_t(request.body.size()));
}

bool UploadPipe::pauseBeforeResend() const {
    const auto until = std::chrono::steady_clock::now() + resendPause_;
    while (std::chrono::steady_clock::now() < until) {
        if (limits_.stopped && limits_.stopped()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    }
    return true;
}

CurlResult UploadPipe::reply(bool sendAgain) {
    waitingForReply_ = true;
    CurlResult result = awaitReply(sendAgain);
    waitingForReply_ = false;
    return result;
}

CurlResult UploadPipe::awaitReply(bool sendAgain) {
    while (true) {
        Entry& entry = queue_.front();
        if (!entry.written && !entry.failure) {
            write(entry);
            // Pipelined, the requests held behind it follow at once.
            for (size_t k = 1; pipelined_ && k < queue_.size() && queue_[k - 1].written && !queue_[k - 1].failure &&
                               connection_.writable();
                 ++k) {
                write(queue_[k]);
            }
        }
        if (entry.failure) {
            CurlResult failure = std::move(*entry.failure);
            const bool wroteSome = entry.written;
            queue_.pop_front();
            if (wroteSome) lose(false);  // part of the request went: the connection cannot go on
            return failure;
        }
        bool unanswered = false;
        CurlResult result = connection_.read(limits_, unanswered, [this] { tellLastBodyStill(); });
        if (result.ok) {
            queue_.pop_front();
            answeredHere_ = true;
            // The receiver closes after this reply: those sent behind it go again, and each
            // request from now on waits for the reply before.
            if (!connection_.writable()) {
                pipelined_ = false;
                if (std::any_of(queue_.begin(), queue_.end(), [](const Entry& e) { return e.written; })) lose(true);
            }
            return result;
        }
        const bool kept = connection_.answeredBefore();
        if (!unanswered) {  // part of a reply came, or the wait ended: not sent again
            queue_.pop_front();
            lose(false);
            return result;
        }
        // Closed before any byte of the reply: after replies on it, or on a new connection
        // that took requests behind this one, the receiver does not keep a connection for
        // requests sent ahead (one that reads a request and closes resets the connection on
        // the bytes it left, and its reply may be lost with them).
        const bool sentBehind = queue_.size() > 1 && queue_[1].written;
        lose(answeredHere_ || (!kept && sentBehind));
        if (!sendAgain || (!kept && (++entry.fresh >= freshTries_ || !pauseBeforeResend()))) {
            queue_.pop_front();
            return result;
        }
    }
}

}  // namespace corvane
