#pragma once
// A TCP or UDP port held on all interfaces for the life of the object, to see
// what the program does when its port is taken.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

class HeldPort {
public:
    HeldPort(int port, int type) {
        fd_ = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        if (type == SOCK_STREAM) {
            const int one = 1;  // connections of an earlier test in TIME_WAIT must not count as taken
            ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        held_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                (type != SOCK_STREAM || ::listen(fd_, 4) == 0);
    }
    ~HeldPort() { ::close(fd_); }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace corvane::test
