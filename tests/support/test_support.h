#pragma once
// Fixtures shared by the tests: temporary folders, polling waits, test port
// ranges and a raw HTTP client that sees exactly the bytes a server writes.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "base/refusal.h"

namespace corvane {
class HTTPServer;
}

namespace corvane::test {

// The refusal text of an outcome, none when it was done, so that answers compare as data.
inline std::optional<std::string> refusalOf(const Outcome& outcome) {
    if (outcome) return std::nullopt;
    return outcome.refusal();
}

// The cross-origin lines every reply of the server carries, in order, without the final CR LF.
extern const char* const kCrossOriginLines;

// A fresh temporary folder, removed with everything in it at the end of the test.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Stops the server and waits until its connection threads have ended, so that none
// outlives the test that made it.
void stopAndDrain(HTTPServer& server);

// Polls the predicate until it holds or the time-out passes.
bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// A block of `count` TCP ports for one test process, away from the shipped range;
// different test processes get different blocks.
int testPortBase(int count = 20);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Bytes that differ by position, from 4 MiB chunk to chunk and by salt, with no short
// period: a misplaced, doubled or stale piece shows.
std::string patterned(int64_t size, int salt = 0);

struct RawReply {
    int status = 0;
    std::string statusLine;
    std::string head;  // everything before the blank line
    std::map<std::string, std::string> headers;  // lower-cased names
    std::string body;
};

// A plain TCP connection to 127.0.0.1:port.
// Writes all of data to the socket (no SIGPIPE); false when the connection failed.
bool sendAll(int fd, const char* data, size_t size);

class RawClient {
public:
    explicit RawClient(int port, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // From another loopback address (any of 127.0.0.0/8), as a second device would; a
    // receive buffer of `receiveBuffer` bytes when given, as a reader that takes little.
    RawClient(int port, const std::string& sourceAddress, int receiveBuffer = 0);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool send(const std::string& bytes);
    // Reads one reply framed by its Content-Length (no body when headOnly).
    std::optional<RawReply> readReply(bool headOnly = false);
    // Reads until the server closes; the bytes it sent before closing.
    std::string readUntilClosed();
    // True when the server closed the connection (no more bytes, end of stream).
    bool closedByServer();
    // Whether the server has acknowledged, so holds in its socket, every byte sent.
    bool allReceived() const;
    void close();

private:
    bool fill();
    int fd_ = -1;
    std::string buf_;
};

// How many segments carrying data the socket has received: bytes sent together arrive
// in one.
int dataSegmentsIn(int fd);

// This process's connected TCP sockets with `port` at either end: both ends of a
// connection from one of its clients to one of its servers.
std::vector<int> connectedSocketsOnPort(int port);
// The port at the other end of a connected socket, or -1.
int peerPortOf(int fd);
// This process's socket at the other end of a connection from one of its clients to one
// of its servers, or -1.
int otherEndOf(int fd);

// Whether all the server sent before closing is a 503 {"error":"busy"}, as a full server
// answers a newcomer it turns away; the bytes are added to the failure's message.
::testing::AssertionResult toldBusy(RawClient& client);

// One request on a fresh connection; "Connection: close" is not added.
std::optional<RawReply> httpRequest(int port, const std::string& method, const std::string& target,
                                    const std::map<std::string, std::string>& headers = {},
                                    const std::string& body = "");
// The same from another loopback address.
std::optional<RawReply> httpRequestFrom(const std::string& sourceAddress, int port, const std::string& method,
                                        const std::string& target, const std::string& body = "");

// How many files in the parts folder hold at least `bytes`: named ones anywhere under it,
// and the ones without a name (a one-chunk file arrives in such a file) that a server in
// this process holds open.
inline int filesWrittenUnder(const std::filesystem::path& parts, uintmax_t bytes) {
    int found = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(parts, ec)) {
        std::error_code sizeError;
        found += entry.is_regular_file(sizeError) && entry.file_size(sizeError) >= bytes;
    }
    const std::string unnamed = parts.string() + "/#";
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
        std::error_code sizeError;
        found += !linkError && target.starts_with(unnamed) && std::filesystem::file_size(fd.path(), sizeError) >= bytes;
    }
    return found;
}

}  // namespace corvane::test
