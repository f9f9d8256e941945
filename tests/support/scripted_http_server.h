#pragma once
// A stand-in HTTP server on loopback for client tests: it records each request
// exactly as it arrived and answers with a reply the test chose, one request
// per connection.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_request.h"

namespace corvane::test {

struct ScriptedReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
};

class ScriptedHTTPServer {
public:
    explicit ScriptedHTTPServer(ScriptedReply reply = {});
    ~ScriptedHTTPServer();
    ScriptedHTTPServer(const ScriptedHTTPServer&) = delete;
    ScriptedHTTPServer& operator=(const ScriptedHTTPServer&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    void setReply(ScriptedReply reply);
    // The requests received so far (head parsed, body attached).
    std::vector<HTTPReq> requests() const;

private:
    void acceptLoop();
    void serve(int fd);

    int listenFD_ = -1;
    int port_ = 0;
    std::atomic<bool> running_{true};
    mutable std::mutex lock_;
    ScriptedReply reply_;
    std::vector<HTTPReq> requests_;
    std::thread thread_;
};

}  // namespace corvane::test
