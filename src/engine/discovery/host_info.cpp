#include "engine/discovery/host_info.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "base/json_fields.h"
#include "base/text_util.h"
#include "base/unique_fd.h"

namespace corvane {

namespace {

std::optional<std::vector<uint32_t>> dottedNumbers(const std::string& text) {
    std::vector<uint32_t> numbers;
    for (std::string_view piece : splitDroppingEmpty(text, ".")) {
        bool digits = !piece.empty();
        for (char c : piece) digits = digits && c >= '0' && c <= '9';
        if (!digits) continue;  // pieces that are not numbers are left out
        const auto v = parseIntText(piece);
        if (!v || *v > 0xffffffffLL) continue;
        numbers.push_back(uint32_t(*v));
    }
    return numbers;
}

std::string dotted(const sockaddr* sa) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return "";
    return text;
}

uint16_t icmpChecksum(const uint8_t* data, size_t len) {
    uint32_t sum = 0;
    for (size_t k = 0; k + 1 < len; k += 2) sum += uint32_t(data[k] << 8 | data[k + 1]);
    if (len & 1) sum += uint32_t(data[len - 1] << 8);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(~sum);
}

std::optional<in_addr> resolveIPv4(const std::string& host) {
    in_addr addr{};
    if (inet_pton(AF_INET, host.c_str(), &addr) == 1) return addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return std::nullopt;
    addr = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return addr;
}

}  // namespace

std::string HostInfo::cleanHostname(std::string_view raw) {
    std::string name(raw);
    if (name.ends_with(".local")) name.resize(name.size() - 6);
    if (name.ends_with(".lan")) name.resize(name.size() - 4);
    return name.empty() ? "Mac" : name;
}

std::string HostInfo::hostname() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "Mac";
    return cleanHostname(buf);
}

bool HostInfo::usableInterface(const InterfaceAddress& entry) {
    return entry.name.rfind("lo", 0) != 0 && entry.addr.rfind("169.254", 0) != 0 && entry.addr != "127.0.0.1";
}

std::vector<InterfaceAddress> HostInfo::ipv4Addresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name) continue;
        InterfaceAddress entry{it->ifa_name, dotted(it->ifa_addr),
                               it->ifa_netmask ? dotted(it->ifa_netmask) : "255.255.255.0"};
        if (usableInterface(entry)) out.push_back(entry);
    }
    ::freeifaddrs(list);
    return out;
}

bool HostInfo::sameSubnet(const std::string& a, const std::string& b, const std::string& mask) {
    const auto na = dottedNumbers(a);
    const auto nb = dottedNumbers(b);
    const auto nm = dottedNumbers(mask);
    if (na->size() != 4 || nb->size() != 4 || nm->size() != 4) return false;
    for (size_t k = 0; k < 4; ++k) {
        if (((*na)[k] ^ (*nb)[k]) & (*nm)[k]) return false;
    }
    return true;
}

std::optional<std::string> HostInfo::parseRouteTable(std::string_view text) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; addresses in
    // host byte order as hex. The default route has destination and mask 0.
    constexpr unsigned kRouteUp = 0x1;
    std::istringstream lines{std::string(text)};
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        const auto cols = splitDroppingEmpty(line, " \t");
        if (cols.size() < 8) continue;
        const auto hex = [](std::string_view v) -> std::optional<uint32_t> {
            if (v.empty() || v.size() > 8) return std::nullopt;
            uint32_t out = 0;
            for (char c : v) {
                const int d = (c >= '0' && c <= '9') ? c - '0'
                            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                            : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
                if (d < 0) return std::nullopt;
                out = out << 4 | uint32_t(d);
            }
            return out;
        };
        const auto dest = hex(cols[1]);
        const auto gw = hex(cols[2]);
        const auto flags = hex(cols[3]);
        const auto mask = hex(cols[7]);
        if (!dest || !gw || !flags || !mask || *dest != 0 || *mask != 0 || !(*flags & kRouteUp)) continue;
        if (*gw == 0) return std::string();  // a default route without a gateway
        in_addr addr{};
        addr.s_addr = *gw;  // the kernel prints the address in host byte order
        char out[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &addr, out, sizeof out);
        return std::string(out);
    }
    return std::nullopt;
}

std::optional<std::string> HostInfo::gateway() {
    std::ifstream in("/proc/net/route");
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return parseRouteTable(text.str());
}

bool HostInfo::ping(const std::string& host, int timeoutMs) {
    const auto addr = resolveIPv4(host);
    if (!addr) return false;
    // An unprivileged ICMP datagram socket where the system allows it, else a raw one (root).
    bool raw = false;
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!sock) {
        sock.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        raw = true;
    }
    if (!sock) return false;
    const int fd = sock.get();

    const uint16_t ident = uint16_t(::getpid() ^ uintptr_t(&host));
    const uint16_t seq = 1;
    uint8_t packet[16] = {};
    packet[0] = ICMP_ECHO;
    packet[4] = uint8_t(ident >> 8);
    packet[5] = uint8_t(ident);
    packet[6] = uint8_t(seq >> 8);
    packet[7] = uint8_t(seq);
    std::memcpy(packet + 8, "corvane!", 8);
    const uint16_t sum = icmpChecksum(packet, sizeof packet);
    packet[2] = uint8_t(sum >> 8);
    packet[3] = uint8_t(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = *addr;
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) return false;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool answered = false;
    while (!answered) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        uint8_t reply[1500];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0) continue;
        size_t off = 0;
        if (raw) off = size_t(reply[0] & 0x0f) * 4;  // raw sockets deliver the IP header too
        if (size_t(n) < off + 8 || from.sin_addr.s_addr != addr->s_addr) continue;
        const uint8_t* icmp = reply + off;
        const uint16_t replySeq = uint16_t(icmp[6] << 8 | icmp[7]);
        const uint16_t replyIdent = uint16_t(icmp[4] << 8 | icmp[5]);
        // Datagram sockets rewrite the identifier; only raw replies are matched on it.
        answered = icmp[0] == ICMP_ECHOREPLY && replySeq == seq && (!raw || replyIdent == ident);
    }
    return answered;
}

}  // namespace corvane
