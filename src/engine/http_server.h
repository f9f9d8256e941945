#pragma once
// The embedded HTTP/1.1 server: one accept thread, one thread per connection,
// persistent connections carrying several requests one after another.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/http_request.h"
#include "engine/model.h"
#include "engine/storage_hooks.h"

namespace corvane {

// What GET /api/peers serves: this device, the devices it knows, and whether it lists them.
struct PeersSnapshot {
    nlohmann::json me = nlohmann::json::object();
    std::vector<nlohmann::json> peers;
    bool enabled = false;
};

struct ServerOptions {
    int firstPort = 8899;
    int lastPort = 8918;
    std::shared_ptr<StorageHooks> storage;  // StubStorageHooks when empty
    std::chrono::milliseconds idleTimeout{120000};  // a read or write waiting this long closes the connection
    int maxConnections = 256;
};

class HTTPServer : public std::enable_shared_from_this<HTTPServer> {
public:
    // Must be owned by a std::shared_ptr before start(): connection threads keep it alive.
    HTTPServer(std::string deviceID, std::string deviceName, std::string token, std::string pin,
               std::filesystem::path root, ServerOptions options = {});
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Creates the folders, binds the first free port of the range and starts accepting.
    bool start();
    // Stops accepting; open connections close after their next request.
    void stop();

    static std::string peerIP(int fd);
    static bool hostMatches(const std::string& origin, const std::string& host);
    bool tokenOK(const HTTPReq& req) const;

    const std::string& deviceID() const { return deviceID_; }
    std::string deviceName() const;
    void setDeviceName(std::string name);
    std::string token() const;
    void setToken(std::string token);
    std::string pin() const;
    void setPin(std::string pin);
    std::filesystem::path root() const;
    std::filesystem::path parts() const;
    // Replaces the receive folder and its ".parts" folder together.
    void setRoot(std::filesystem::path root);

    int port() const { return port_; }
    int listenFD() const { return listenFD_; }
    bool running() const { return running_; }
    int openConnections() const { return connections_; }
    StorageHooks& storage() const { return *storage_; }

    // Set before start(); called on connection threads.
    std::function<void(const ServerEvent&)> onEvent;
    std::function<PeersSnapshot()> peersProvider;
    void emit(const ServerEvent& event) const;

private:
    void acceptLoop();
    void serve(int fd);
    bool handle(int fd, const HTTPReq& req, const std::string& peerIP);
    void route(int fd, const HTTPReq& req, const std::string& peerIP);

    const std::string deviceID_;
    mutable std::mutex fieldsLock_;  // guards the five fields below
    std::string deviceName_;
    std::string token_;
    std::string pin_;
    std::filesystem::path root_;
    std::filesystem::path parts_;

    const ServerOptions options_;
    std::shared_ptr<StorageHooks> storage_;
    std::atomic<int> port_{0};
    std::atomic<int> listenFD_{-1};
    std::atomic<bool> running_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
};

}  // namespace corvane
