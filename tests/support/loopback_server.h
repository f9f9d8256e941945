#pragma once
// The engine's own server on loopback for client and send-queue tests: a fresh
// receive folder, chosen token and PIN, and the events it raised.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/server/http_server.h"
#include "support/test_support.h"

namespace corvane::test {

class LoopbackServer {
public:
    explicit LoopbackServer(const std::string& token = "", const std::string& pin = "");
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool started() const { return started_; }
    int port() const { return server_->port(); }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port()) + "/"; }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path partFolder(const std::string& uploadID) const { return root_ / ".parts" / uploadID; }
    HTTPServer& server() { return *server_; }
    std::vector<ServerEvent> events() const;

private:
    struct Events {
        std::mutex lock;
        std::vector<ServerEvent> list;
    };
    Sandbox sandbox_;
    std::filesystem::path root_;
    std::shared_ptr<Events> events_ = std::make_shared<Events>();
    std::shared_ptr<HTTPServer> server_;
    bool started_ = false;
};

}  // namespace corvane::test
