#include "support/server_controls.h"

#include "support/test_support.h"

namespace corvane::test {

void useControls(ServerOptions& options, const std::shared_ptr<ServerControls>& controls) {
    options.nasExt = [controls] { return controls->nasExt.load(); };
    options.clock = [controls] { return controls->clock.load(); };
}

void collectEvents(HTTPServer& server, const std::shared_ptr<ServerControls>& controls) {
    server.onEvent = [controls](const ServerEvent& e) {
        std::lock_guard lock(controls->eventsLock);
        controls->events.push_back(e);
    };
}

std::vector<ServerEvent> eventsOnceIdle(const HTTPServer& server, ServerControls& controls) {
    waitFor([&] { return server.openConnections() == 0; });
    std::lock_guard lock(controls.eventsLock);
    return controls.events;
}

}  // namespace corvane::test
