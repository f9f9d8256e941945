// Receive tasks: the fields listed, kept 8 s after finishing, kept while unfinished.

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

TEST_F(RoutesReceiveTasks, TaskObjectCarriesSevenFields) {
    EXPECT_EQ(call("GET", "/api/receive-tasks").body, R"({"tasks":[]})");
    call("PUT", "/api/upload/aaaaaaaa/meta", R"({"name":"z.txt","size":10})");
    call("PUT", "/api/upload/aaaaaaaa/0", "12345");
    const nlohmann::json tasks = callJSON("GET", "/api/receive-tasks")["tasks"];
    EXPECT_EQ(tasks, nlohmann::json::array({{{"id", "aaaaaaaa"}, {"name", "z.txt"}, {"size", 10}, {"received", 5},
                                             {"speed", 0.0}, {"from", "127.0.0.1"}, {"state", "接收中"}}}));
}

TEST_F(RoutesReceiveTasks, FinishedTaskIsKeptEightSeconds) {
    const double finished = clock();
    send("aaaaaaaa", "a.txt", "abc");
    const struct { double after; bool listed; } cases[] = {
        {0, true}, {7.9, true}, {8.0, false}, {7.9, false}, {100, false}};
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

class FullTaskTable : public RoutesReceiveTasks {
protected:
    FullTaskTable() { maxReceiveTasks = 3; }
};

TEST_F(FullTaskTable, AnUploadsTaskShowsItsMetasNameAndSizeFromMetaToFinish) {
    // A crowd's uploads made and cancelled (their tasks stay running) pushed a device's task
    // out of the table; its next chunk or its finish made it again as "" of size 0.
    const std::string upload = "/api/upload/abcdef0123456789";
    int crowd = 0;
    const auto crowdFills = [&] {
        for (int k = 0; k < 3; ++k, ++crowd) {
            const std::string other = "/api/upload/c0ffee" + std::to_string(100 + crowd);
            httpRequestFrom("127.0.0.3", server->port(), "PUT", other + "/meta", R"({"name":"n.bin","size":1})");
            httpRequestFrom("127.0.0.3", server->port(), "DELETE", other);
        }
    };
    const struct { const char* method; const char* path; const char* body; const char* state; } steps[] = {
        {"PUT", "/meta", R"({"name":"docs/report.pdf","size":5})", "接收中"},
        {"PUT", "/0", "abc", "接收中"},
        {"PUT", "/1", "de", "接收中"},
        {"POST", "/finish", "{}", "已完成"},
    };
    for (const auto& step : steps) {
        ASSERT_EQ(call(step.method, upload + step.path, step.body).status, 200) << step.path;
        const nlohmann::json tasks = callJSON("GET", "/api/receive-tasks")["tasks"];
        const auto mine = std::find_if(tasks.begin(), tasks.end(), [](const auto& task) { return task["id"] == "abcdef0123456789"; });
        ASSERT_NE(mine, tasks.end()) << step.path;
        EXPECT_EQ((*mine)["name"], "report.pdf") << step.path;
        EXPECT_EQ((*mine)["size"], 5) << step.path;
        EXPECT_EQ((*mine)["state"], step.state) << step.path;
        crowdFills();
    }
}

}  // namespace
}  // namespace corvane::test
