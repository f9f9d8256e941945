#include "support/loopback_server.h"

namespace corvane::test {

LoopbackServer::LoopbackServer(const std::string& token, const std::string& pin) : root_(sandbox_ / "recv") {
    ServerOptions options;
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    server_ = std::make_shared<HTTPServer>("loopback-device", "Loopback", token, pin, root_, options);
    auto events = events_;  // connection threads may outlive the test by a moment
    server_->onEvent = [events](const ServerEvent& e) {
        std::lock_guard<std::mutex> guard(events->lock);
        events->list.push_back(e);
    };
    started_ = server_->start();
}

LoopbackServer::~LoopbackServer() { stopAndDrain(*server_); }

std::vector<ServerEvent> LoopbackServer::events() const {
    std::lock_guard<std::mutex> guard(events_->lock);
    return events_->list;
}

}  // namespace corvane::test
