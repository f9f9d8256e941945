#pragma once
// One connection to a peer's server on which requests go out back to back, before the
// replies of those before them are read; the replies are read in the order the requests
// went. libcurl opens the connection (its connect limit and its result codes, so that a
// failure reads for users as for any request, transportErrorText); the bytes then go
// over its socket directly. Plain http only. Used by one thread at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/sending/curl_http.h"

namespace corvane {

// A request as it goes on the wire: its head (request line, headers and the blank line),
// then its body, from `body` or, when its fd is set, from `bodyFile`.
struct PipeRequest {
    std::string head;
    std::string body;
    FileSlice bodyFile;
    // Called with the body's bytes sent so far: as they move, and at least once a second
    // while they do not.
    std::function<void(int64_t)> onSent;
    // Another request goes right after it: its bytes may wait in the socket to leave with
    // that one's, so that requests sent together reach the receiver together.
    bool followed = false;
};

// The limits of each exchange on a pipe connection.
struct PipeLimits {
    std::chrono::milliseconds connect{10000};
    std::chrono::milliseconds whole{120000};  // a request's write, and then the wait for its reply
    std::function<bool()> stopped;            // abandons the exchange as soon as it says so
};

class PipeConnection {
public:
    PipeConnection() = default;
    ~PipeConnection();
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Whether a request may still be written: the connection is open and no write failed.
    bool writable() const { return fd_ >= 0 && writable_; }
    // Whether it was opened to the host and port of `url`: a connection kept from a
    // transfer to one receiver never carries another receiver's requests.
    bool opensTo(const std::string& url) const { return isOpen() && url == url_; }
    // Whether a reply was read on it: a close from here on closes a connection kept.
    bool answeredBefore() const { return answered_; }

    // Whether it was opened for small files' requests.
    bool carriesSmallFiles() const { return small_; }

    // A new connection to the URL's host; the result is ok once it stands. One for small
    // files' requests sends what fits the window at once instead of pacing it out
    // (leaveUnpaced).
    CurlResult open(const std::string& url, const PipeLimits& limits, bool small = false);
    void close();
    // Closes it giving up the requests written on it whose replies were not read: none of
    // their bytes still in this host's hands goes on, so a receiver that comes back within
    // reach never acts on a request its sender already counted as failed.
    void abort();
    // Writes the request whole. A failed write leaves the connection unwritable; its
    // replies still due may yet be read.
    CurlResult write(const PipeRequest& request, const PipeLimits& limits);
    // Whether a whole reply is in, taking what bytes wait without waiting for more.
    bool replyReady();
    // The next reply. `unanswered` tells a connection that ended before any byte of it;
    // `tick` is called about every quarter second while none comes.
    CurlResult read(const PipeLimits& limits, bool& unanswered, const std::function<void()>& tick = {});

private:
    enum class Wait { ready, timedOut, stopped, failed };
    Wait await(short events, std::chrono::steady_clock::time_point deadline, const PipeLimits& limits,
               const std::function<void()>& tick = {});
    CurlResult sendBytes(const char* data, size_t size, std::chrono::steady_clock::time_point deadline,
                         const PipeLimits& limits, const std::function<void(size_t)>& sent, bool followed = false);
    // Sends what a request followed left waiting in the socket.
    void push();
    CurlResult sendFile(const PipeRequest& request, std::chrono::steady_clock::time_point deadline,
                        const PipeLimits& limits);
    // Reads more bytes into the buffer: 0 at end of stream, else the result of the wait.
    CurlResult fill(std::chrono::steady_clock::time_point deadline, const PipeLimits& limits, bool& ended,
                    const std::function<void()>& tick);

    void* curl_ = nullptr;
    int fd_ = -1;
    bool writable_ = false;
    std::string url_;  // the URL it was opened with
    bool answered_ = false;
    bool held_ = false;  // bytes of a request followed may wait in the socket
    bool small_ = false;
    std::string buffer_;  // bytes read and not yet part of a reply handed out
};

}  // namespace corvane
