#pragma once
// A TCP relay on 127.0.0.1 to a server on loopback, connecting from a source address of
// its own, that holds chosen requests on their way until the test lets them go on: a
// client such as the send queue then reaches the server in the order a test needs. It can
// also go silent as a link that went down does: nothing moves either way and nothing new
// connects until it comes back, when what was sent meanwhile goes on, but for what a
// client sent on a connection it reset meanwhile: its kernel dropped that undelivered.

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
    // While silent no byte, end or new connection goes on either way; they wait for the
    // relay to come back (a connection still opens, as its client sees, and waits unanswered).
    void goSilent();
    void comeBack();
    // Connections clients opened to the relay so far, silent or not.
    int connections();

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
        int server = -1;  // set under the lock once connected
        std::thread up;
        std::thread down;  // started by `up`
    };
    void acceptLoop();
    // Connects the relayed connection to the server once the relay is not silent; false
    // when the relay stops first or the server cannot be reached.
    bool connectUpstream(Relayed& relayed);
    void relayRequests(Relayed& relayed);
    // The hold of a request line, taken; null when none holds it.
    Hold* holdFor(const std::string& requestLine);
    void waitReleased(Hold& hold);
    // Waits while the relay is silent; false when it stops meanwhile.
    bool waitSpoken();
    // Sends the first `count` bytes once the relay is not silent.
    bool pass(int to, const std::string& bytes, size_t count);
    // The same toward the server, unless the client reset its connection first.
    bool passUp(int client, int server, const std::string& bytes, size_t count);
    // Sends `count` body bytes: first those already read, then from the client.
    bool passBody(int client, int server, std::string& buffer, int64_t count);

    int serverPort_;
    std::string source_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;  // guards holds_, relayed_, silent_, accepted_, stopping_
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Hold>> holds_;
    std::vector<std::unique_ptr<Relayed>> relayed_;
    bool silent_ = false;
    int accepted_ = 0;
    bool stopping_ = false;
    std::thread acceptor_;
};

}  // namespace corvane::test
