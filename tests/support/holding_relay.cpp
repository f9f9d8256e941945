#include "support/holding_relay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/test_support.h"

namespace corvane::test {

namespace {

sockaddr_in loopback(const std::string& address, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    return addr;
}

int connectFrom(const std::string& source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in from = loopback(source, 0);
    const sockaddr_in to = loopback("127.0.0.1", port);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        return fd;
    }
    if (fd >= 0) ::close(fd);
    return -1;
}

// Appends what the socket gives; false at its end.
bool readMore(int fd, std::string& into) {
    char piece[65536];
    const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
    if (n <= 0) return false;
    into.append(piece, size_t(n));
    return true;
}

// Whether the client reset the connection (closed it without lingering).
bool wasReset(int fd) {
    pollfd look{fd, POLLIN, 0};
    if (::poll(&look, 1, 0) == 1 && (look.revents & POLLERR)) return true;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0;
}

int64_t contentLength(const std::string& head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const size_t at = lower.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::stoll(lower.substr(at + 17));
}

}  // namespace

HoldingRelay::HoldingRelay(int serverPort, std::string sourceAddress)
    : serverPort_(serverPort), source_(std::move(sourceAddress)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback("127.0.0.1", 0);
    socklen_t length = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HoldingRelay::~HoldingRelay() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        for (const auto& relayed : relayed_) {
            ::shutdown(relayed->client, SHUT_RDWR);
            if (relayed->server >= 0) ::shutdown(relayed->server, SHUT_RDWR);
        }
    }
    changed_.notify_all();
    if (acceptor_.joinable()) acceptor_.join();
    for (const auto& relayed : relayed_) {
        relayed->up.join();  // it started `down`, if any
        if (relayed->down.joinable()) relayed->down.join();
        ::close(relayed->client);
        if (relayed->server >= 0) ::close(relayed->server);
    }
    if (listener_ >= 0) ::close(listener_);
}

void HoldingRelay::hold(const std::string& text, int64_t bodyBytes) {
    std::lock_guard guard(lock_);
    holds_.push_back(std::make_unique<Hold>(Hold{text, bodyBytes}));
}

void HoldingRelay::release(const std::string& text) {
    {
        std::lock_guard guard(lock_);
        for (const auto& hold : holds_) hold->released = hold->released || hold->text == text;
    }
    changed_.notify_all();
}

bool HoldingRelay::holding(const std::string& text) {
    std::lock_guard guard(lock_);
    return std::any_of(holds_.begin(), holds_.end(), [&](const auto& hold) { return hold->text == text && hold->stopped; });
}

void HoldingRelay::goSilent() {
    std::lock_guard guard(lock_);
    silent_ = true;
}

void HoldingRelay::comeBack() {
    {
        std::lock_guard guard(lock_);
        silent_ = false;
    }
    changed_.notify_all();
}

int HoldingRelay::connections() {
    std::lock_guard guard(lock_);
    return accepted_;
}

bool HoldingRelay::waitSpoken() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return !silent_ || stopping_; });
    return !stopping_;
}

bool HoldingRelay::pass(int to, const std::string& bytes, size_t count) {
    return waitSpoken() && sendAll(to, bytes.data(), count);
}

bool HoldingRelay::passUp(int client, int server, const std::string& bytes, size_t count) {
    return waitSpoken() && !wasReset(client) && sendAll(server, bytes.data(), count);
}

bool HoldingRelay::passBody(int client, int server, std::string& buffer, int64_t count) {
    while (count > 0) {
        if (buffer.empty() && !readMore(client, buffer)) return false;
        const size_t n = size_t(std::min<int64_t>(count, int64_t(buffer.size())));
        if (!passUp(client, server, buffer, n)) return false;
        buffer.erase(0, n);
        count -= int64_t(n);
    }
    return true;
}

void HoldingRelay::acceptLoop() {
    while (true) {
        {
            std::lock_guard guard(lock_);
            if (stopping_) return;
        }
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        auto relayed = std::make_unique<Relayed>();
        relayed->client = client;
        Relayed& each = *relayed;
        std::lock_guard guard(lock_);
        ++accepted_;
        relayed_.push_back(std::move(relayed));
        // A connection made while silent reaches the server once the relay comes back.
        each.up = std::thread([this, &each] {
            if (!connectUpstream(each)) {
                ::shutdown(each.client, SHUT_RDWR);
                return;
            }
            each.down = std::thread([this, &each] {
                std::string bytes;
                while (readMore(each.server, bytes) && pass(each.client, bytes, bytes.size())) bytes.clear();
                waitSpoken();
                ::shutdown(each.client, SHUT_RDWR);
            });
            relayRequests(each);
        });
    }
}

bool HoldingRelay::connectUpstream(Relayed& relayed) {
    if (!waitSpoken()) return false;
    const int server = connectFrom(source_, serverPort_);
    std::lock_guard guard(lock_);
    if (stopping_) {
        if (server >= 0) ::close(server);
        return false;
    }
    relayed.server = server;
    return server >= 0;
}

void HoldingRelay::relayRequests(Relayed& relayed) {
    std::string buffer;
    while (true) {
        size_t end = 0;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore(relayed.client, buffer)) {
                waitSpoken();
                ::shutdown(relayed.server, SHUT_RDWR);
                return;
            }
        }
        const std::string head = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        const int64_t length = contentLength(head);
        Hold* hold = holdFor(head.substr(0, head.find("\r\n")));
        const int64_t before = hold ? std::min(hold->bodyBytes, length) : length;
        if (hold && hold->bodyBytes == 0) waitReleased(*hold);
        bool passed = passUp(relayed.client, relayed.server, head, head.size()) && passBody(relayed.client, relayed.server, buffer, before);
        if (passed && hold && hold->bodyBytes > 0) waitReleased(*hold);
        passed = passed && passBody(relayed.client, relayed.server, buffer, length - before);
        if (!passed) {
            waitSpoken();
            ::shutdown(relayed.server, SHUT_RDWR);
            ::shutdown(relayed.client, SHUT_RDWR);
            return;
        }
    }
}

HoldingRelay::Hold* HoldingRelay::holdFor(const std::string& requestLine) {
    std::lock_guard guard(lock_);
    for (const auto& hold : holds_) {
        if (hold->taken || requestLine.find(hold->text) == std::string::npos) continue;
        hold->taken = true;
        return hold.get();
    }
    return nullptr;
}

void HoldingRelay::waitReleased(Hold& hold) {
    std::unique_lock guard(lock_);
    hold.stopped = true;
    changed_.notify_all();
    changed_.wait(guard, [&] { return hold.released || stopping_; });
    hold.stopped = false;
}

}  // namespace corvane::test
