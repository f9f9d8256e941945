#pragma once
// The byte stream under the SMTP dialogue: a TCP connection (each address of the host
// tried in turn, non-blocking connect with a time limit) that can switch to TLS on the
// same socket. Certificates are verified against OpenSSL's default paths (SSL_CERT_FILE
// included) and the host name or address; nothing unverified is accepted. Refusals
// carry the texts the administrator is shown.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include <openssl/ssl.h>

#include "base/refusal.h"
#include "base/unique_fd.h"

namespace corvane {

class MailConnection {
public:
    explicit MailConnection(std::chrono::milliseconds timeout) : timeout_(timeout) {}
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;
    ~MailConnection();

    // False when no address of the host accepted a connection within the time limit.
    bool connect(const std::string& host, int port);
    // The TLS handshake on the open socket; bytes already received in plain text are
    // dropped, never read as coming through TLS. A failed handshake closes the
    // connection and is refused with the TLS library's reason.
    Outcome startTLS(const std::string& host);
    // Every byte, or refused: "连接已关闭" when no connection is open.
    Outcome write(std::string_view bytes);
    // The next byte, or refused on end of stream, error or time-out, and when no
    // connection is open.
    Outcome readByte(char& byte);
    void close();

private:
    bool prepareTLS(const std::string& host);
    bool fill();

    std::chrono::milliseconds timeout_;
    UniqueFd fd_;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx_{nullptr, SSL_CTX_free};
    std::unique_ptr<SSL, void (*)(SSL*)> ssl_{nullptr, SSL_free};
    std::string buffer_;
    size_t next_ = 0;
};

}  // namespace corvane
