#pragma once
// Facts about this machine's own network: host name, IPv4 interfaces, subnet
// test, default gateway and a single ping. No state; may run on any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct InterfaceAddress {
    std::string name;
    std::string addr;
    std::string mask;
    bool operator==(const InterfaceAddress&) const = default;
};

struct HostInfo {
    static std::string hostname();
    // A raw host name as hostname() reports it (".local", then ".lan" removed; "Mac" when empty).
    static std::string cleanHostname(std::string_view raw);
    static std::vector<InterfaceAddress> ipv4Addresses();
    // Whether an interface entry is listed (loopback and link-local are not).
    static bool usableInterface(const InterfaceAddress& entry);
    static bool sameSubnet(const std::string& a, const std::string& b, const std::string& mask);
    // The default route's gateway from /proc/net/route.
    static std::optional<std::string> gateway();
    // The gateway of the default route in the text of /proc/net/route.
    static std::optional<std::string> parseRouteTable(std::string_view text);
    // One ICMP echo; true when the reply arrived within the time-out.
    static bool ping(const std::string& host, int timeoutMs);
};

}  // namespace corvane
