#pragma once
// The switches a test server's callbacks read and the events it raises. Shared with
// connection threads, which may outlive a test by a moment.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/server/http_server.h"

namespace corvane::test {

struct ServerControls {
    explicit ServerControls(bool nasExtOn = false) : nasExt(nasExtOn) {}
    std::atomic<bool> nasExt;
    std::atomic<double> clock{1700000000.0};
    std::mutex eventsLock;
    std::vector<ServerEvent> events;
};

// The options' "nasExt" switch and clock read the controls.
void useControls(ServerOptions& options, const std::shared_ptr<ServerControls>& controls);
// The server's events go to the controls.
void collectEvents(HTTPServer& server, const std::shared_ptr<ServerControls>& controls);
// The events so far, once every connection ended: some routes raise theirs after the
// reply, and a closed client's connection ends only after its handler.
std::vector<ServerEvent> eventsOnceIdle(const HTTPServer& server, ServerControls& controls);

}  // namespace corvane::test
