#pragma once
// A stand-in HTTP server on loopback for client tests: it records each request
// exactly as it arrived and answers with a reply the test chose (for every path,
// or for one path), one request per connection, one connection at a time.

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/server/http_request.h"

namespace corvane::test {

struct ScriptedReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body = {};
    // Download edges: a Content-Length above the body's size (the reply is cut
    // short), no Content-Length (the body ends when the connection closes), and
    // the connection held open after the body until the client leaves.
    std::optional<size_t> announcedLength = std::nullopt;
    bool withoutLength = false;
    bool holdOpen = false;
    // The connection closed once the request is read, with no byte of a reply.
    bool closeUnanswered = false;
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
    // The reply for requests to this path (without the query); other paths get the general one.
    void setReply(const std::string& path, ScriptedReply reply);
    // The requests received so far (head parsed, body attached).
    std::vector<HTTPReq> requests() const;

private:
    void acceptLoop();
    void serve(int fd);
    void holdUntilClientLeaves(int fd) const;

    int listenFD_ = -1;
    int port_ = 0;
    std::atomic<bool> running_{true};
    mutable std::mutex lock_;
    ScriptedReply reply_;
    std::map<std::string, ScriptedReply> byPath_;
    std::vector<HTTPReq> requests_;
    std::thread thread_;
};

}  // namespace corvane::test
