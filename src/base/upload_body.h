#pragma once
// The body of a streamed upload, copied from the socket into a file as it arrives:
// one 256 KiB buffer whatever the size, never more than the announced length. Writes
// start on 64 KiB steps of the body, so new page-cache pages come in large folios; all
// that is held is written before the copy waits for more. Long bodies on block file
// systems have their blocks reserved a chunk ahead of the writes.

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/body_pace.h"

namespace corvane {

struct BodyCopy {
    enum class End { complete, cutShort, writeFailed };
    End end = End::complete;
    int64_t written = 0;  // body bytes in the file
    int error = 0;        // errno of the failed write
    bool tooSlow = false;  // cut short by the server: the body fell behind its pace
};

// Writes the bytes that came with the head, then reads the rest of `length` bytes from
// the socket. The peer closing, a read error, the idle time-out or a body that falls
// behind its pace cut the body short. `heard`, when set, is called after each read that
// brought bytes. The file's range from its offset for `length` bytes must be this copy's
// alone while it runs: a copy that stops early frees the blocks reserved past its bytes.
BodyCopy copyBodyToFile(int sock, std::string_view bodyStart, int64_t length, int file, const BodyPace& pace,
                        const std::function<void()>& heard = {});

}  // namespace corvane
