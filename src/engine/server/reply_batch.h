#pragma once
// Replies to requests that came together leave together. A sender that sends several
// requests back to back (a small file's status, meta, chunk and finish) would otherwise get
// one segment, and one wake-up, per reply. While a run of requests whole in the read buffer
// is handled, their replies wait in the socket (TCP_CORK); they leave once the last reply
// of the run is written. Nothing is held while the server could wait for the network: a
// request whose body is not all read yet releases what waits before it is handled.

#include <string_view>

namespace corvane {

// Whether the bytes begin with a whole request: its head and its content-length body.
bool beginsWithWholeRequest(std::string_view bytes);

class ReplyBatch {
public:
    explicit ReplyBatch(int fd) : fd_(fd) {}

    // Before a request is handled: `bodyIn` says whether its body is all read, `more`
    // whether a whole request follows it.
    void beforeHandling(bool bodyIn, bool more);
    // After its reply was written.
    void afterHandling(bool more);

private:
    void hold(bool on);

    int fd_;
    bool corked_ = false;
};

}  // namespace corvane
