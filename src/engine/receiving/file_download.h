#pragma once
// Pieces of the ranged file download (GET and HEAD on "/d/<path>").

#include <cstdint>
#include <string>

namespace corvane {

// "attachment" or "inline", then the name as ASCII ("_" for anything else and for
// quotes) and as percent-encoded UTF-8 (RFC 6266, RFC 8187).
std::string contentDisposition(const std::string& fileName, bool inlineView);

// Sends `length` bytes of the open file from `start` to the socket, at most 1 MiB
// at a time; false when not all of them went out (the file shrank, the peer left).
bool sendFileRange(int sock, int file, int64_t start, int64_t length);

}  // namespace corvane
