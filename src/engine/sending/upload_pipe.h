#pragma once
// The requests of one upload on one connection, sent before the replies of those before
// them are read (pipelined), or one at a time once the receiver showed that it does not
// keep up with that. Replies come back in the order the requests were sent.
//
// A connection that closes before any byte of a reply came sends that request and those
// behind it again, one at a time, on new connections: at once when the connection was a
// kept one (it had carried a reply, or an earlier upload's requests), else a pause
// apart, and each request on new connections at most `freshTries` times. A reply that
// says the connection closes, or a connection that closed unanswered after a reply or
// with requests written behind the first, turns the pipe to one request at a time.

#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include "engine/sending/pipe_connection.h"

namespace corvane {

class UploadPipe {
public:
    // url: where the connection goes ("http://host:port/...").
    UploadPipe(PipeConnection& connection, std::string url, PipeLimits limits, int freshTries,
               std::chrono::milliseconds resendPause = std::chrono::milliseconds(250));
    // A pipe given up with replies still due aborts its connection (PipeConnection::abort):
    // they would be read as the replies of the next upload's requests.
    ~UploadPipe();
    UploadPipe(const UploadPipe&) = delete;
    UploadPipe& operator=(const UploadPipe&) = delete;

    bool pipelined() const { return pipelined_; }
    // From now on each request goes once the reply before it was read.
    void oneAtATime() { pipelined_ = false; }
    // The requests are a small file's: they go on a connection for small files.
    void carrySmallFile() { small_ = true; }
    // Requests sent (or held) whose reply was not read yet.
    size_t waiting() const { return queue_.size(); }

    // The reply of the oldest request when it is already in whole; none otherwise, and
    // while a reply is being waited for.
    std::optional<CurlResult> replyIfReady();
    // Drops the requests not written yet (the pipe's connection closed before they went
    // again): only replies that may still come are asked for after it.
    void forgetUnsent();
    // Sends the request now when pipelined, else when its reply is asked for.
    void send(PipeRequest request);
    // The reply of the oldest request waiting, or why none came; with `sendAgain` false,
    // a request whose connection closed unanswered is not sent again.
    CurlResult reply(bool sendAgain = true);

private:
    struct Entry {
        PipeRequest request;
        bool written = false;
        int fresh = 0;  // tries on new connections
        std::optional<CurlResult> failure;  // the request's own failure, told as its reply
    };
    // Writes the entry, opening a connection first when none can take it.
    bool write(Entry& entry);
    // The connection is given up and aborted: every request still due goes again, one at a
    // time when `fallBack`.
    void lose(bool fallBack);
    bool pauseBeforeResend() const;
    CurlResult awaitReply(bool sendAgain);
    // While a reply is awaited, the last request written hears that its body went whole
    // and moves no more (PipeRequest::onSent).
    void tellLastBodyStill() const;

    PipeConnection& connection_;
    std::string url_;
    PipeLimits limits_;
    int freshTries_;
    std::chrono::milliseconds resendPause_;
    bool pipelined_ = true;
    bool small_ = false;
    bool answeredHere_ = false;  // the connection carried a reply of this pipe
    bool waitingForReply_ = false;
    std::deque<Entry> queue_;
};

}  // namespace corvane
