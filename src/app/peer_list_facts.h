#pragma once
// What the server's peer-list callback needs of the application state, copied
// under a lock of its own: server threads read it without ever waiting for the
// main thread, which refreshes it whenever one of these values changes.

#include <memory>
#include <mutex>
#include <string>

#include "engine/server/http_server.h"

namespace corvane {

class Discovery;

class PeerListFacts {
public:
    void update(std::string deviceID, std::string deviceName, int port, bool discoveryEnabled,
                std::shared_ptr<Discovery> discovery);

    // This device ("pin" always false), the devices discovery hears now (without
    // their team names; "lastSeen" in ms) and whether discovery runs.
    PeersSnapshot snapshot() const;

private:
    mutable std::mutex lock_;
    std::string deviceID_;
    std::string deviceName_;
    int port_ = 0;
    bool discoveryEnabled_ = false;
    std::shared_ptr<Discovery> discovery_;
};

}  // namespace corvane
