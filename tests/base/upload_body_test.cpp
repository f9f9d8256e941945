// The body of a streamed upload copied from a socket into a file: every edge of the copy.

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "base/unique_fd.h"
#include "base/upload_body.h"
#include "support/test_support.h"

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Both ends of one loopback TCP connection, as the server's connection threads hold them.
struct Connection {
    UniqueFd client;
    UniqueFd server;
};

Connection connectLoopback() {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return {};
    }
    Connection c{UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), {}};
    if (::connect(c.client.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) return {};
    c.server.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return c;
}

// The clock the body's pace is kept by: moved by the paced sender, or jumping an hour
// ahead once the copy has begun, for a sender that stalls.
struct TestClock {
    std::atomic<int64_t> seconds{0};
    std::atomic<bool> jumps{false};
    std::atomic<bool> begun{false};
    const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point now() {
        if (jumps && begun.exchange(true)) seconds = 3600;
        return origin + std::chrono::seconds(seconds.load());
    }
};

enum class Sender { whole, paced, pieces, stalls };
enum class Target { plain, readOnly };

struct Case {
    const char* name;
    size_t headBytes;    // of the body, read with the head
    size_t socketBytes;  // sent on the socket after it
    int64_t length;      // announced
    Sender sender;
    Target target;
    BodyCopy::End end;
    int64_t written;
    bool tooSlow;
    int error;
    bool heard;
};

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kPaceStep = 65536;  // the minimum rate, and what the paced sender sends per second of its clock
constexpr size_t kOddPiece = 70001;   // what the piecemeal sender sends at a time: no step of the copy's writes

// Sends the socket's part of the body as the case says, then ends it. A stalled sender
// sends nothing and waits (boundedly) for the copy to give up.
void send(int fd, const std::string& bytes, Sender sender, TestClock& clock, std::future<void> copied) {
    // Each piece goes once the one before is in the copy's socket, so the copy reads
    // them one by one, each shorter than it asked for.
    const auto acknowledged = [fd] {
        int unacknowledged = 0;
        return ::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
    };
    if (sender == Sender::paced || sender == Sender::pieces) {
        // The paced sender's clock moves on only once the step before is in: whenever the
        // copy waits, it has taken every step before the clock's.
        const size_t step = sender == Sender::paced ? size_t(kPaceStep) : kOddPiece;
        for (size_t at = 0; at < bytes.size(); at += step) {
            if (sender == Sender::paced) clock.seconds = int64_t(at) / kPaceStep;
            test::sendAll(fd, bytes.data() + at, std::min(step, bytes.size() - at));
            test::waitFor(acknowledged);
        }
    } else if (sender == Sender::stalls) {
        copied.wait_for(20s);
    } else {
        test::sendAll(fd, bytes.data(), bytes.size());
    }
    ::shutdown(fd, SHUT_WR);
}

UniqueFd openTarget(const std::filesystem::path& file, Target target) {
    if (target == Target::readOnly) {
        test::writeFile(file, "");
        return UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    }
    return UniqueFd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// A copy that fails never reads past its body: the next request on the connection starts
// where it ended.
TEST(CopyBodyToFile, AFailedWriteReadsNothingOfTheNextBody) {
    test::Sandbox sandbox;
    Connection conn = connectLoopback();
    ASSERT_TRUE(conn.server);
    const std::string first = test::patterned(kMiB, 'a');
    const std::string second = test::patterned(kMiB, 'b');
    ASSERT_TRUE(test::sendAll(conn.client.get(), first.data(), 8192));
    UniqueFd readOnly = openTarget(sandbox / "refused", Target::readOnly);
    const BodyCopy failed = copyBodyToFile(conn.server.get(), {}, 4096, readOnly.get(), BodyPace{});
    EXPECT_EQ(failed.end, BodyCopy::End::writeFailed);

    // What is left of the first body is read away; the second body is then taken whole and alone.
    char rest[4096];
    const timeval bounded{5, 0};  // a copy that took them fails here rather than hangs
    ::setsockopt(conn.server.get(), SOL_SOCKET, SO_RCVTIMEO, &bounded, sizeof bounded);
    ASSERT_EQ(::recv(conn.server.get(), rest, sizeof rest, MSG_WAITALL), ssize_t(sizeof rest));
    ASSERT_TRUE(test::sendAll(conn.client.get(), second.data(), second.size()));
    UniqueFd file = openTarget(sandbox / "next", Target::plain);
    const BodyCopy next = copyBodyToFile(conn.server.get(), {}, int64_t(second.size()), file.get(), BodyPace{});
    file.reset();
    EXPECT_EQ(next.end, BodyCopy::End::complete);
    EXPECT_TRUE(test::readFile(sandbox / "next") == second);
}

TEST(CopyBodyToFile, EveryEdgeOfTheCopyKeepsTheBodysBytesInOrder) {
    using End = BodyCopy::End;
    const int64_t big = 3 * kMiB + 12345;  // many buffers' worth, not a whole number of them
    const size_t paced = 16 * kPaceStep;
    const Case cases[] = {
        {"head bytes first", 70000, size_t(big - 70000), big, Sender::whole, Target::plain, End::complete, big, false, 0,
         true},
        {"head longer than a read", 300000, size_t(big - 300000), big, Sender::whole, Target::plain, End::complete, big,
         false, 0, true},
        {"reads shorter than asked", 1234, 20 * kOddPiece, 1234 + 20 * int64_t(kOddPiece), Sender::pieces,
         Target::plain, End::complete, 1234 + 20 * int64_t(kOddPiece), false, 0, true},
        {"cut after a short read", 1234, 5 * kOddPiece, big, Sender::pieces, Target::plain, End::cutShort,
         1234 + 5 * int64_t(kOddPiece), false, 0, true},
        {"head holds it all", 5000, 0, 5000, Sender::whole, Target::plain, End::complete, 5000, false, 0, false},
        {"body cut short", 100, 2 * kMiB, big, Sender::whole, Target::plain, End::cutShort, 2 * kMiB + 100, false, 0,
         true},
        {"write failure", 0, size_t(kMiB), kMiB, Sender::whole, Target::readOnly, End::writeFailed, 0, false, EBADF,
         true},
        // Nothing more comes: the head's bytes are written before the copy waits, and fail.
        {"write failure in the head", 10, size_t(kMiB), kMiB + 10, Sender::stalls, Target::readOnly, End::writeFailed,
         0, false, EBADF, false},
        {"at the minimum rate", 0, paced, int64_t(paced), Sender::paced, Target::plain, End::complete, int64_t(paced),
         false, 0, true},
        {"behind the minimum rate", 1000, paced, int64_t(paced) + 1000, Sender::stalls, Target::plain, End::cutShort,
         1000, true, 0, false},
    };
    test::Sandbox sandbox;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn = connectLoopback();
        ASSERT_TRUE(conn.server);
        const std::string body = test::patterned(c.headBytes + c.socketBytes, c.name[0]);
        const auto file = sandbox / c.name;
        UniqueFd target = openTarget(file, c.target);
        ASSERT_TRUE(target);

        TestClock clock;
        clock.jumps = c.sender == Sender::stalls;
        // Four seconds of grace: the paced sender's clock may be a step ahead of what the copy has seen.
        const BodyPace pace{4s, kPaceStep, 60s, [&clock] { return clock.now(); }};
        std::promise<void> copied;
        std::thread sender(send, conn.client.get(), body.substr(c.headBytes), c.sender, std::ref(clock),
                           copied.get_future());
        int heard = 0;
        const BodyCopy copy = copyBodyToFile(conn.server.get(), std::string_view(body).substr(0, c.headBytes), c.length,
                                             target.get(), pace, [&heard] { ++heard; });
        copied.set_value();
        conn.server.reset();  // a sender still writing is reset
        sender.join();
        target.reset();

        EXPECT_EQ(copy.end, c.end);
        EXPECT_EQ(copy.written, c.written);
        EXPECT_EQ(copy.tooSlow, c.tooSlow);
        EXPECT_EQ(copy.error, c.error);
        EXPECT_EQ(heard > 0, c.heard) << heard;
        if (c.target != Target::readOnly) {
            EXPECT_TRUE(test::readFile(file) == body.substr(0, size_t(c.written)));
        }
    }
}

}  // namespace
