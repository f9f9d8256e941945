// Newcomers a full server turns away hold no descriptor beyond the drain's bound.

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>
#include <vector>

#include "engine/server/busy_replies.h"

using namespace corvane;

namespace {

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(BusyReplies, RefusedConnectionsWaitingBetweenTwoPassesStayWithinTheBound) {
    // Refused connections waited in a list with no bound between two passes of the drain,
    // each holding a descriptor of the process's 1,024.
    constexpr size_t kWaiting = 4;
    BusyReplies replies(kWaiting, std::chrono::seconds(30));
    const size_t before = openDescriptors();
    std::vector<UniqueFd> clients;
    for (int k = 0; k < 300; ++k) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        clients.emplace_back(pair[0]);
        replies.refuse(UniqueFd(pair[1]));
    }
    // The clients' ends, and at most the bound waiting plus the bound being drained.
    EXPECT_LE(openDescriptors() - before, clients.size() + 2 * kWaiting + 1);
}

}  // namespace
