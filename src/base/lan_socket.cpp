#include "base/lan_socket.h"

#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>

#include "base/unique_fd.h"

namespace corvane {

namespace {
// TCP_RTO_MIN_US from linux/tcp.h, which the system headers of older distributions lack.
constexpr int tcpRtoMinMicros = 45;

bool runCongestionControl(int socketFd, const std::string& name) {
    return ::setsockopt(socketFd, IPPROTO_TCP, TCP_CONGESTION, name.data(), socklen_t(name.size())) == 0;
}

}  // namespace

const std::string& systemCongestionControl() {
    static const std::string name = congestionControlOf(UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)).get());
    return name;
}

bool shortenLossRecovery(int socketFd) {
    const int floor = lanRecoveryFloorMicros;
    return ::setsockopt(socketFd, IPPROTO_TCP, tcpRtoMinMicros, &floor, sizeof floor) == 0;
}

std::string congestionControlOf(int socketFd) {
    char name[32] = {};
    socklen_t length = sizeof name - 1;
    if (::getsockopt(socketFd, IPPROTO_TCP, TCP_CONGESTION, name, &length) != 0) return {};
    return std::string(name, ::strnlen(name, length));
}

bool leaveUnpaced(int socketFd) { return runCongestionControl(socketFd, "reno"); }

bool paceAsSystemChooses(int socketFd) {
    const std::string& name = systemCongestionControl();
    return !name.empty() && runCongestionControl(socketFd, name);
}

}  // namespace corvane
