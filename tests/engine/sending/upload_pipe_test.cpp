// Requests an upload gave up on never reach the receiver later: a link that comes back
// would otherwise deliver a finish the queue already counted as failed and sent again.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/unique_fd.h"
#include "engine/sending/upload_pipe.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// A listener on loopback whose connections take few bytes until read.
UniqueFd narrowListener(int& port) {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener.get(), 4) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return {};
    }
    port = ntohs(addr.sin_port);
    return listener;
}

TEST(UploadPipe, ARequestGivenUpOnMidWriteNeverReachesTheReceiverWhole) {
    int port = 0;
    const UniqueFd listener = narrowListener(port);
    ASSERT_TRUE(listener);
    PipeRequest request;
    const std::string body(4 << 20, 'x');
    request.head = "POST /api/upload/0123456789abcdef/0 HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n";
    request.body = body;
    const size_t whole = request.head.size() + body.size();

    PipeConnection connection;
    {
        UploadPipe pipe(connection, "http://127.0.0.1:" + std::to_string(port) + "/", PipeLimits{1000ms, 300ms, {}}, 1);
        pipe.send(request);
        EXPECT_FALSE(pipe.reply().ok);  // the receiver reads nothing: the write times out
    }
    EXPECT_FALSE(connection.isOpen());

    // The receiver reads at last: what waited in the sender's socket never comes.
    const UniqueFd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(accepted);
    size_t received = 0;
    char piece[65536];
    ssize_t n = 0;
    while ((n = ::recv(accepted.get(), piece, sizeof piece, 0)) > 0) received += size_t(n);
    EXPECT_LT(received, whole);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(errno, ECONNRESET);
}

}  // namespace
}  // namespace corvane::test
