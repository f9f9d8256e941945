#include "support/test_support.h"

#include "engine/server/http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace corvane::test {

const char* const kCrossOriginLines =
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: GET, HEAD, PUT, POST, DELETE, OPTIONS\r\n"
    "Access-Control-Allow-Headers: content-type, x-pin, x-corvane-token, range\r\n"
    "Access-Control-Expose-Headers: content-length, content-range, content-disposition, accept-ranges\r\n"
    "Access-Control-Max-Age: 600\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Connection: keep-alive";

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) abort();
    path_ = pattern;
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

void stopAndDrain(HTTPServer& server) {
    server.stop();
    waitFor([&] { return server.openConnections() == 0; });
}

int testPortBase(int count) {
    // 20000..32767 split into blocks by process id, below the kernel's range for client
    // ports (32768..60999 unless set otherwise), so that no client socket holds a port a
    // test binds; the server skips taken ports anyway.
    const int blocks = (32768 - 20000) / std::max(count, 1);
    return 20000 + (int(getpid()) % blocks) * count;
}

std::string patterned(int64_t size, int salt) {
    std::string bytes(size_t(size), '\0');
    for (int64_t k = 0; k < size; ++k) {
        bytes[size_t(k)] = char((k * 131 + k / 4099 + (k >> 22) * 7 + salt * 37) & 0xff);
    }
    return bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

RawClient::RawClient(int port, std::chrono::milliseconds timeout) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    timeval tv{};
    tv.tv_sec = time_t(timeout.count() / 1000);
    tv.tv_usec = suseconds_t((timeout.count() % 1000) * 1000);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) close();
}

RawClient::RawClient(int port, const std::string& sourceAddress, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    timeval tv{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // Set before connecting, so that the window offered is small from the start.
    if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, sourceAddress.c_str(), &from.sin_addr);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close();
    }
}

RawClient::~RawClient() { close(); }

void RawClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool RawClient::send(const std::string& bytes) { return sendAll(fd_, bytes.data(), bytes.size()); }

bool RawClient::fill() {
    char chunk[65536];
    while (true) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf_.append(chunk, size_t(n));
        return true;
    }
}

std::optional<RawReply> RawClient::readReply(bool headOnly) {
    size_t end;
    while ((end = buf_.find("\r\n\r\n")) == std::string::npos) {
        if (!fill()) return std::nullopt;
    }
    RawReply reply;
    reply.head = buf_.substr(0, end);
    std::istringstream lines(reply.head);
    std::string line;
    std::getline(lines, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    reply.statusLine = line;
    if (line.size() >= 12) reply.status = std::atoi(line.substr(9, 3).c_str());
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        reply.headers[name] = value;
    }
    buf_.erase(0, end + 4);
    const size_t length = headOnly ? 0 : size_t(std::atoll(reply.headers["content-length"].c_str()));
    while (buf_.size() < length) {
        if (!fill()) return std::nullopt;
    }
    reply.body = buf_.substr(0, length);
    buf_.erase(0, length);
    return reply;
}

std::string RawClient::readUntilClosed() {
    while (fill()) {
    }
    std::string out;
    out.swap(buf_);
    return out;
}

bool RawClient::closedByServer() {
    if (!buf_.empty()) return false;
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, 0);
    if (n > 0) buf_.push_back(c);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

bool RawClient::allReceived() const {
    int unacknowledged = 0;
    return ::ioctl(fd_, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
}

int dataSegmentsIn(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return -1;
    return int(info.tcpi_data_segs_in);
}

namespace {

int portOf(const sockaddr_in& address) { return ntohs(address.sin_port); }

}  // namespace

std::vector<int> connectedSocketsOnPort(int port) {
    std::vector<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in mine{}, theirs{};
        socklen_t length = sizeof mine;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) != 0 || mine.sin_family != AF_INET) continue;
        length = sizeof theirs;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &length) != 0) continue;
        if (portOf(mine) == port || portOf(theirs) == port) found.push_back(fd);
    }
    return found;
}

int peerPortOf(int fd) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 ? portOf(peer) : -1;
}

int otherEndOf(int fd) {
    sockaddr_in mine{};
    socklen_t length = sizeof mine;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) != 0) return -1;
    for (const int other : connectedSocketsOnPort(portOf(mine))) {
        if (other != fd && peerPortOf(other) == portOf(mine)) return other;
    }
    return -1;
}

namespace {

std::optional<RawReply> exchange(RawClient& client, int port, const std::string& method, const std::string& target,
                                 const std::map<std::string, std::string>& headers, const std::string& body) {
    if (!client.connected()) return std::nullopt;
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const auto& [name, value] : headers) req += name + ": " + value + "\r\n";
    if (!body.empty() || method == "POST" || method == "PUT") req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "\r\n" + body;
    if (!client.send(req)) return std::nullopt;
    return client.readReply(method == "HEAD");
}

}  // namespace

std::optional<RawReply> httpRequest(int port, const std::string& method, const std::string& target,
                                    const std::map<std::string, std::string>& headers, const std::string& body) {
    RawClient client(port);
    return exchange(client, port, method, target, headers, body);
}

std::optional<RawReply> httpRequestFrom(const std::string& sourceAddress, int port, const std::string& method,
                                        const std::string& target, const std::string& body) {
    RawClient client(port, sourceAddress);
    return exchange(client, port, method, target, {}, body);
}

::testing::AssertionResult toldBusy(RawClient& client) {
    const std::string sent = client.readUntilClosed();
    const std::string body = R"({"error":"busy"})";
    const bool busy = sent.rfind("HTTP/1.1 503 ", 0) == 0 && sent.size() > body.size() &&
                      sent.compare(sent.size() - body.size(), body.size(), body) == 0;
    if (busy) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not told busy: \"" << sent << "\"";
}

}  // namespace corvane::test
