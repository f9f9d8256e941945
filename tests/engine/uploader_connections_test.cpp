// The send queue's connections: each transfer sends all its chunks over one
// keep-alive connection of its own, and two transfers never share one.

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>

#include "engine/http_server.h"
#include "engine/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// The client ports each upload id's chunks arrived from.
struct ChunkPorts {
    std::mutex lock;
    std::map<std::string, std::vector<int>> byID;
};

int clientPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    return ntohs(addr.sin_port);
}

TEST(UploaderConnections, EachTransferKeepsOneConnectionOfItsOwn) {
    test::Sandbox sandbox;
    auto ports = std::make_shared<ChunkPorts>();
    ServerOptions options;
    options.firstPort = test::testPortBase(20);
    options.lastPort = options.firstPort + 19;
    // A row ahead of the engine's chunk row notes the connection, then hands the chunk on.
    options.addRoutes = [ports](RouteTable& table) {
        const auto record = [ports](Connection& c) {
            {
                std::lock_guard guard(ports->lock);
                ports->byID[c.captures.at(0)].push_back(clientPort(c.fd));
            }
            c.server.uploadChunk(c);
        };
        table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern("/api/upload/{hex}/{digits}"), record,
                                         RouteFacts{.streamed = true}});
    };
    auto server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", sandbox / "recv", options);
    ASSERT_TRUE(server->start());

    test::TestLoop loop;
    Uploader uploader(loop);
    std::vector<std::shared_ptr<TransferTask>> tasks;
    for (int k = 0; k < 2; ++k) {
        const fs::path file = sandbox / ("f" + std::to_string(k));
        test::writeFile(file, std::string(size_t(3 * 4194304 + 1 + k), char('a' + k)));
        tasks.push_back(Uploader::makeTask(file, "", std::nullopt));
    }
    uploader.append(tasks);
    uploader.pump(std::nullopt, std::nullopt, "tok", server->port());
    ASSERT_TRUE(loop.runUntil([&] {
        return uploader.activeCount() == 0 && tasks[0]->state == TransferState::done() &&
               tasks[1]->state == TransferState::done();
    }));
    test::stopAndDrain(*server);

    std::lock_guard guard(ports->lock);
    ASSERT_EQ(ports->byID.size(), 2u);
    std::set<int> seen;
    for (const auto& [id, list] : ports->byID) {
        ASSERT_EQ(list.size(), 4u) << id;
        EXPECT_EQ(std::set<int>(list.begin(), list.end()).size(), 1u) << id << ": chunks over more than one connection";
        EXPECT_TRUE(seen.insert(list.front()).second) << "two transfers share a connection";
    }
}

}  // namespace
}  // namespace corvane
