#include "support/scripted_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

namespace {

std::string readRequest(int fd) {
    std::string data;
    char chunk[65536];
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    while (true) {
        if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
            const auto head = parseHead(std::string_view(data).substr(0, headEnd + 4));
            const std::string length = head ? head->header("content-length") : "";
            wanted = headEnd + 4 + (length.empty() ? 0 : std::stoul(length));
        }
        if (headEnd != std::string::npos && data.size() >= wanted) return data;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return data;
        data.append(chunk, size_t(n));
    }
}

void writeAllBytes(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += size_t(n);
    }
}

}  // namespace

ScriptedHTTPServer::ScriptedHTTPServer(ScriptedReply reply) : reply_(std::move(reply)) {
    listenFD_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFD_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFD_, 16) != 0 ||
        getsockname(listenFD_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { acceptLoop(); });
}

ScriptedHTTPServer::~ScriptedHTTPServer() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (listenFD_ >= 0) ::close(listenFD_);
}

void ScriptedHTTPServer::setReply(ScriptedReply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    reply_ = std::move(reply);
}

void ScriptedHTTPServer::setReply(const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> guard(lock_);
    byPath_[path] = std::move(reply);
}

std::vector<HTTPReq> ScriptedHTTPServer::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void ScriptedHTTPServer::acceptLoop() {
    while (running_) {
        pollfd p{listenFD_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        serve(fd);
        ::close(fd);
    }
}

void ScriptedHTTPServer::serve(int fd) {
    const std::string data = readRequest(fd);
    const size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string::npos) return;
    auto req = parseHead(std::string_view(data).substr(0, headEnd + 4));
    if (!req) return;
    req->body.append(std::string_view(data).substr(headEnd + 4));
    ScriptedReply reply;
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(*req);
        const auto it = byPath_.find(req->path);
        reply = it == byPath_.end() ? reply_ : it->second;
    }
    if (reply.closeUnanswered) return;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\nContent-Type: " + reply.contentType;
    if (!reply.withoutLength) {
        head += "\r\nContent-Length: " + std::to_string(reply.announcedLength.value_or(reply.body.size()));
    }
    writeAllBytes(fd, head + "\r\nConnection: close\r\n\r\n");
    writeAllBytes(fd, reply.body);
    if (reply.holdOpen) holdUntilClientLeaves(fd);
}

void ScriptedHTTPServer::holdUntilClientLeaves(int fd) const {
    char byte;
    while (running_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && ::recv(fd, &byte, 1, 0) <= 0) return;
    }
}

}  // namespace corvane::test
