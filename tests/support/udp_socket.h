#pragma once
// A plain UDP socket for tests that talk to discovery: sends datagrams and
// receives them with both the source and the destination address.

#include <chrono>
#include <optional>
#include <string>

namespace corvane::test {

struct Datagram {
    std::string bytes;
    std::string from;  // source address
    int fromPort = 0;
    std::string to;    // destination address: tells a unicast from a broadcast
};

class UDPSocket {
public:
    // Binds bindIP:port (port 0: any free port); SO_REUSEADDR and SO_REUSEPORT are set.
    UDPSocket(const std::string& bindIP, int port);
    ~UDPSocket();
    UDPSocket(const UDPSocket&) = delete;
    UDPSocket& operator=(const UDPSocket&) = delete;

    bool ok() const { return fd_ >= 0; }
    int port() const;
    bool sendTo(const std::string& ip, int port, const std::string& bytes) const;
    std::optional<Datagram> receive(std::chrono::milliseconds timeout) const;

private:
    int fd_ = -1;
};

}  // namespace corvane::test
