#include "storage/mail_connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

namespace corvane {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kClosed = "连接已关闭";
const char* const kNoAnswer = "服务器没有响应或已断开连接";

int millisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// One address within the deadline; the connected socket, blocking again, or none.
UniqueFd connectOne(const addrinfo& ai, Clock::time_point deadline) {
    UniqueFd fd(::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol));
    if (!fd) return {};
    if (::connect(fd.get(), ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) return {};
        pollfd p{fd.get(), POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&p, 1, millisLeft(deadline));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return {};
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return {};
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
    return fd;
}

void setIOTimeouts(int fd, std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = time_t(timeout.count() / 1000);
    tv.tv_usec = suseconds_t((timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Why a handshake failed, in the TLS library's words (with the certificate check's
// verdict when that failed); empty when the library has none, as when the server sent
// nothing in time.
std::string tlsFailureReason(const SSL* ssl) {
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    if (error == 0) return "";
    const char* reason = ERR_reason_error_string(error);
    std::string text = reason ? reason : "error " + std::to_string(ERR_GET_REASON(error));
    const long verified = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
    if (verified != X509_V_OK) text += std::string("（") + X509_verify_cert_error_string(verified) + "）";
    return text;
}

bool isAddressLiteral(const std::string& host) {
    in6_addr v6{};
    in_addr v4{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

MailConnection::~MailConnection() { close(); }

bool MailConnection::connect(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return false;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, freeaddrinfo);
    const auto deadline = Clock::now() + timeout_;
    for (const addrinfo* ai = list.get(); ai && !fd_; ai = ai->ai_next) {
        if (millisLeft(deadline) == 0) break;
        fd_ = connectOne(*ai, deadline);
    }
    if (!fd_) return false;
    setIOTimeouts(fd_.get(), timeout_);
    return true;
}

bool MailConnection::prepareTLS(const std::string& host) {
    ctx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!ctx_) return false;
    SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
    if (SSL_CTX_set_default_verify_paths(ctx_.get()) != 1) return false;
    SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), fd_.get()) != 1) return false;
    if (isAddressLiteral(host)) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), host.c_str()) == 1;
    return SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) == 1 && SSL_set1_host(ssl_.get(), host.c_str()) == 1;
}

Outcome MailConnection::startTLS(const std::string& host) {
    if (!fd_) return Refusal{kClosed};
    buffer_.clear();
    next_ = 0;
    ERR_clear_error();  // the queue is per thread and may hold an older failure
    if (prepareTLS(host) && SSL_connect(ssl_.get()) == 1) return {};
    const std::string reason = tlsFailureReason(ssl_.get());
    close();  // nothing is read or written after a failed handshake
    if (reason.empty()) return Refusal{kNoAnswer};
    return Refusal{"TLS 握手失败：" + reason};
}

Outcome MailConnection::write(std::string_view bytes) {
    if (!fd_) return Refusal{kClosed};
    while (!bytes.empty()) {
        ssize_t n = 0;
        if (ssl_) {
            size_t written = 0;
            n = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written) == 1 ? ssize_t(written) : -1;
        } else {
            n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
        }
        if (n < 1) return Refusal{"发送失败，连接可能已断开"};
        bytes.remove_prefix(size_t(n));
    }
    return {};
}

bool MailConnection::fill() {
    char block[4096];
    ssize_t n = 0;
    if (ssl_) {
        size_t got = 0;
        n = SSL_read_ex(ssl_.get(), block, sizeof block, &got) == 1 ? ssize_t(got) : -1;
    } else {
        do {
            n = ::recv(fd_.get(), block, sizeof block, 0);
        } while (n < 0 && errno == EINTR);
    }
    if (n < 1) return false;
    buffer_.assign(block, size_t(n));
    next_ = 0;
    return true;
}

Outcome MailConnection::readByte(char& byte) {
    if (!fd_) return Refusal{kClosed};
    if (next_ >= buffer_.size() && !fill()) return Refusal{kNoAnswer};
    byte = buffer_[next_++];
    return {};
}

void MailConnection::close() {
    ssl_.reset();
    ctx_.reset();
    fd_.reset();
    buffer_.clear();
    next_ = 0;
}

}  // namespace corvane
