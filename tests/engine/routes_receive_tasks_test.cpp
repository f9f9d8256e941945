// Receive tasks: listed in creation order, kept 8 s after finishing.

#include "engine/routes_fixture.h"

namespace corvane::test {
namespace {

class RoutesReceiveTasks : public RouteTest {
protected:
    void send(const std::string& id, const std::string& name, const std::string& bytes) {
        call("PUT", "/api/upload/" + id + "/meta", nlohmann::json{{"name", name}, {"size", bytes.size()}}.dump());
        call("PUT", "/api/upload/" + id + "/0", bytes);
        EXPECT_EQ(call("POST", "/api/upload/" + id + "/finish", "{}").status, 200);
    }
    std::vector<std::string> listedIDs() {
        const nlohmann::json reply = callJSON("GET", "/api/receive-tasks");
        std::vector<std::string> ids;
        for (const auto& task : reply["tasks"]) ids.push_back(task["id"]);
        return ids;
    }
};

TEST_F(RoutesReceiveTasks, NoUploadsListNoTasks) {
    EXPECT_EQ(call("GET", "/api/receive-tasks").body, R"({"tasks":[]})");
}

TEST_F(RoutesReceiveTasks, TaskObjectCarriesSevenFields) {
    call("PUT", "/api/upload/aaaaaaaa/meta", R"({"name":"z.txt","size":10})");
    call("PUT", "/api/upload/aaaaaaaa/0", "12345");
    const nlohmann::json tasks = callJSON("GET", "/api/receive-tasks")["tasks"];
    EXPECT_EQ(tasks, nlohmann::json::array({{{"id", "aaaaaaaa"},
                                             {"name", "z.txt"},
                                             {"size", 10},
                                             {"received", 5},
                                             {"speed", 0.0},
                                             {"from", "127.0.0.1"},
                                             {"state", "接收中"}}}));
}

TEST_F(RoutesReceiveTasks, TasksAreListedInCreationOrder) {
    call("PUT", "/api/upload/bbbbbbbb/meta", R"({"name":"zeta.txt"})");
    call("PUT", "/api/upload/aaaaaaaa/0", "x");
    call("PUT", "/api/upload/bbbbbbbb/0", "y");
    server->withReceiveTask("web-1", [](ReceiveTask& task) { task.name = "from a browser"; });
    EXPECT_EQ(listedIDs(), (std::vector<std::string>{"bbbbbbbb", "aaaaaaaa", "web-1"}));
}

TEST_F(RoutesReceiveTasks, FinishedTaskIsKeptEightSeconds) {
    const double finished = clock();
    send("aaaaaaaa", "a.txt", "abc");
    const struct {
        double after;
        bool listed;
    } cases[] = {{0, true}, {7.9, true}, {8.0, false}, {7.9, false}, {100, false}};
    for (const auto& c : cases) {
        setClock(finished + c.after);
        EXPECT_EQ(listedIDs().size(), c.listed ? 1u : 0u) << c.after << " s after finishing";
    }
}

TEST_F(RoutesReceiveTasks, UnfinishedTaskStaysWhateverItsAge) {
    call("PUT", "/api/upload/aaaaaaaa/0", "half");
    call("DELETE", "/api/upload/aaaaaaaa");
    setClock(clock() + 86400);
    const nlohmann::json tasks = callJSON("GET", "/api/receive-tasks")["tasks"];
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0]["state"], "接收中");
    EXPECT_EQ(tasks[0]["received"], 4);
}

TEST_F(RoutesReceiveTasks, SendingAgainAfterRemovalMakesANewTaskAtTheEnd) {
    send("aaaaaaaa", "a.txt", "abc");
    setClock(clock() + 1);
    call("PUT", "/api/upload/bbbbbbbb/0", "x");
    setClock(clock() + 8);
    EXPECT_EQ(listedIDs(), std::vector<std::string>{"bbbbbbbb"});
    call("PUT", "/api/upload/aaaaaaaa/meta", R"({"name":"a.txt"})");
    EXPECT_EQ(listedIDs(), (std::vector<std::string>{"bbbbbbbb", "aaaaaaaa"}));
    const auto tasks = server->receiveTasksSnapshot();
    EXPECT_EQ(tasks.back().state, "接收中");
    EXPECT_EQ(tasks.back().received, 0);
}

TEST_F(RoutesReceiveTasks, SnapshotIsACopy) {
    server->withReceiveTask("web-2", [](ReceiveTask& task) { task.received = 1; });
    auto copy = server->receiveTasksSnapshot();
    copy[0].received = 99;
    server->withReceiveTask("web-2", [](ReceiveTask& task) { task.received += 1; });
    EXPECT_EQ(server->receiveTasksSnapshot().at(0).received, 2);
}

}  // namespace
}  // namespace corvane::test
