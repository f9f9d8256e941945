#pragma once
// Two network namespaces joined by a veth pair on a private /24, for tests that
// need two devices. Nothing is attached to a real interface; the namespaces go
// away with the object (and with the last socket opened inside them).

#include <functional>
#include <string>

namespace corvane::test {

class VethPair {
public:
    enum class Side { a, b };

    // Side a gets <subnet>.1/24, side b <subnet>.2/24; loopback is up in both.
    explicit VethPair(std::string subnet = "10.231.7");
    ~VethPair();
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    // Whether both namespaces and the link between them were set up.
    bool ready() const { return ready_; }
    std::string address(Side side) const;
    std::string subnet() const { return subnet_; }

    // Runs fn on a fresh thread inside the namespace and waits for it; threads
    // and sockets that fn creates stay in that namespace.
    void runIn(Side side, const std::function<void()>& fn) const;
    // Runs a shell command inside the namespace; its exit status.
    int shell(Side side, const std::string& command) const;
    // Adds one more address of the /24 to the side's end of the link.
    bool addAddress(Side side, const std::string& address) const;

private:
    int fd(Side side) const { return side == Side::a ? fdA_ : fdB_; }
    std::string link(Side side) const;

    std::string subnet_;
    std::string linkPrefix_;
    int fdA_ = -1;
    int fdB_ = -1;
    bool ready_ = false;
};

}  // namespace corvane::test
