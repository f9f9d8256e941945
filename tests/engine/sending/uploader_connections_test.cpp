// The send queue's connections: each transfer sends all its chunks over one
// keep-alive connection of its own, two transfers never share one, and transfers that
// follow each other go on over the connections of those before.

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>

#include "engine/server/http_server.h"
#include "engine/sending/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct ChunkArrival {
    int clientPort = -1;
    bool withHead = false;  // the whole body came in with the request head
};

// How each upload id's chunks arrived.
struct Arrivals {
    std::mutex lock;
    std::map<std::string, std::vector<ChunkArrival>> byID;
};

int clientPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    return ntohs(addr.sin_port);
}

class UploaderConnections : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.firstPort = test::testPortBase(20);
        options.lastPort = options.firstPort + 19;
        // A row ahead of the engine's chunk row notes the chunk, then hands it on.
        options.addRoutes = [arrivals = arrivals](RouteTable& table) {
            const auto record = [arrivals](Connection& c) {
                {
                    std::lock_guard guard(arrivals->lock);
                    const bool withHead = int64_t(c.bodyStart.size()) == c.contentLength;
                    arrivals->byID[c.captures.at(0)].push_back(ChunkArrival{clientPort(c.fd), withHead});
                }
                c.server.uploadChunk(c);
            };
            table.add(RouteStage::dav, Route{{"PUT"}, PathTest::pattern("/api/upload/{hex}/{digits}"), record,
                                             RouteFacts{.streamed = true}});
        };
        server = std::make_shared<HTTPServer>("dev", "Desk", "tok", "", sandbox / "recv", options);
        ASSERT_TRUE(server->start());
    }

    // Sends files of the given sizes through one send queue and waits until all are done.
    void sendFiles(const std::vector<size_t>& sizes) {
        std::vector<std::shared_ptr<TransferTask>> tasks;
        for (size_t k = 0; k < sizes.size(); ++k) {
            const fs::path file = sandbox / ("f" + std::to_string(k));
            test::writeFile(file, std::string(sizes[k], char('a' + k)));
            tasks.push_back(Uploader::makeTask(file, "", std::nullopt));
        }
        Uploader uploader(loop);
        uploader.append(tasks);
        uploader.pump(std::nullopt, std::nullopt, "tok", server->port());
        ASSERT_TRUE(loop.runUntil([&] {
            return uploader.activeCount() == 0 &&
                   std::all_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->state == TransferState::done(); });
        }));
        test::stopAndDrain(*server);
    }

    test::Sandbox sandbox;
    std::shared_ptr<Arrivals> arrivals = std::make_shared<Arrivals>();
    std::shared_ptr<HTTPServer> server;
    test::TestLoop loop;
};

TEST_F(UploaderConnections, EachTransferKeepsOneConnectionOfItsOwn) {
    sendFiles({3 * 4194304 + 1, 3 * 4194304 + 2});
    std::lock_guard guard(arrivals->lock);
    ASSERT_EQ(arrivals->byID.size(), 2u);
    std::set<int> seen;
    for (const auto& [id, list] : arrivals->byID) {
        ASSERT_EQ(list.size(), 4u) << id;
        std::set<int> ports;
        for (const ChunkArrival& arrival : list) ports.insert(arrival.clientPort);
        EXPECT_EQ(ports.size(), 1u) << id << ": chunks over more than one connection";
        EXPECT_TRUE(seen.insert(list.front().clientPort).second) << "two transfers share a connection";
    }
}

TEST_F(UploaderConnections, SmallFilesInARowGoOverTheConnectionsOfThoseBefore) {
    // A folder of small files once cost a connection (and a server thread) per file.
    sendFiles(std::vector<size_t>(8, 3000));
    std::lock_guard guard(arrivals->lock);
    ASSERT_EQ(arrivals->byID.size(), 8u);
    std::set<int> ports;
    for (const auto& [id, list] : arrivals->byID) ports.insert(list.at(0).clientPort);
    EXPECT_LE(ports.size(), size_t(Uploader::concurrency));
}

TEST_F(UploaderConnections, ASmallChunkComesWithItsRequestHead) {
    // Sent apart, the head and the body of a small chunk cost the receiver a second wake-up.
    sendFiles({1, 3000, 6144});
    std::lock_guard guard(arrivals->lock);
    ASSERT_EQ(arrivals->byID.size(), 3u);
    for (const auto& [id, list] : arrivals->byID) EXPECT_TRUE(list.at(0).withHead) << id;
}

}  // namespace
}  // namespace corvane
