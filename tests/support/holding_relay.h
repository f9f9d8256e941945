#pragma once
// A TCP relay on 127.0.0.1 to a server on loopback, connecting from a source address of
// its own, that holds chosen requests on their way until the test lets them go on: a
// client such as the send queue then reaches the server in the order a test needs.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

class HoldingRelay {
public:
    HoldingRelay(int serverPort, std::string sourceAddress);
    // Closes every relayed connection and waits for its threads.
    ~HoldingRelay();
    HoldingRelay(const HoldingRelay&) = delete;
    HoldingRelay& operator=(const HoldingRelay&) = delete;

    int port() const { return port_; }
    // The first request whose request line contains `text` stops once `bodyBytes` of its
    // body have gone on (0: before its head goes on), until released.
    void hold(const std::string& text, int64_t bodyBytes);
    void release(const std::string& text);
    // Whether the request held for `text` has stopped and waits.
    bool holding(const std::string& text);

private:
    struct Hold {
        std::string text;
        int64_t bodyBytes = 0;
        bool taken = false;
        bool stopped = false;
        bool released = false;
    };
    struct Relayed {
        int client = -1;
        int server = -1;
        std::thread up;
        std::thread down;
    };
    void acceptLoop();
    void relayRequests(Relayed& relayed);
    // The hold of a request line, taken; null when none holds it.
    Hold* holdFor(const std::string& requestLine);
    void waitReleased(Hold& hold);

    int serverPort_;
    std::string source_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;  // guards holds_, relayed_, stopping_
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Hold>> holds_;
    std::vector<std::unique_ptr<Relayed>> relayed_;
    bool stopping_ = false;
    std::thread acceptor_;
};

}  // namespace corvane::test
