// The send queue's pause between tries to reach a receiver that went out of reach: five
// seconds, read off the queue's own timer rather than waited out.

#include <gtest/gtest.h>

#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>

#include "engine/sending/uploader.h"
#include "engine/server/http_server.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// A loop that notes each pause asked for and runs its work at once.
class PauseNotingLoop : public TestLoop {
public:
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override {
        {
            std::lock_guard guard(lock_);
            pauses_.push_back(delay);
        }
        TestLoop::postAfter(0ms, std::move(fn));
    }
    std::vector<std::chrono::milliseconds> pauses() {
        std::lock_guard guard(lock_);
        return pauses_;
    }

private:
    std::mutex lock_;
    std::vector<std::chrono::milliseconds> pauses_;
};

TEST(UploaderRetryPause, AReceiverOutOfReachIsTriedAgainFiveSecondsAfterEachTry) {
    Sandbox sandbox;
    ServerOptions options;
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    auto server = std::make_shared<HTTPServer>("dev", "Desk", "", "", sandbox / "recv", options);
    ASSERT_TRUE(server->start());
    const int port = server->port();
    PauseNotingLoop loop;
    UploaderOptions quick;
    quick.timeouts = RequestTimeouts{300ms, 1000ms};  // the pause left as it ships
    Uploader uploader(loop, TransferClock{}, quick);
    const auto sendFolder = [&](const std::string& name) {
        writeFile(sandbox / "out" / name / "f.bin", patterned(1000, name[0]));
        const auto tasks = uploader.expandDirectory(sandbox / "out" / name, std::nullopt).tasks;
        uploader.append(tasks);
        uploader.pump(std::nullopt, std::nullopt, "", port);
        return tasks.front();
    };
    const auto first = sendFolder("a");
    ASSERT_TRUE(loop.runUntil([&] { return first->state.kind == TransferState::Kind::done; })) << first->state.message;
    // Reached once, the receiver goes silent (its port taken by a listener that never
    // answers): each try that finds no way pauses 5 s.
    stopAndDrain(*server);
    UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(silent.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(silent.get(), 16), 0);
    const auto second = sendFolder("b");
    ASSERT_TRUE(loop.runUntil([&] { return loop.pauses().size() >= 2; }, 20s)) << loop.pauses().size() << " " << int(second->state.kind) << second->state.message;
    for (const auto pause : loop.pauses()) EXPECT_EQ(pause, 5000ms);
    EXPECT_TRUE(second->state.active()) << second->state.message;
}

}  // namespace
}  // namespace corvane::test
