// The gates every request passes before the route table: keep-alive, the Host check,
// CORS preflight, the cross-origin token check, the PIN and the team-mode switch.

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>
#include <array>
#include <string_view>

#include "base/json_fields.h"
#include "base/secure_compare.h"
#include "base/text_util.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

struct OriginParts {
    std::string host;
    int port = 80;
    bool explicitPort = false;
};

// The host and port of an origin such as "http://192.168.1.5:8899"; none without a host.
std::optional<OriginParts> parseOrigin(const std::string& origin) {
    const size_t scheme = origin.find("://");
    if (scheme == std::string::npos || scheme == 0) return std::nullopt;
    std::string authority = origin.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
    OriginParts parts;
    size_t colon = std::string::npos;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        parts.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return std::nullopt;
            colon = close + 1;
        }
    } else {
        colon = authority.find(':');
        parts.host = authority.substr(0, colon);
    }
    if (parts.host.empty()) return std::nullopt;
    if (colon != std::string::npos) {
        const std::string portText = authority.substr(colon + 1);
        if (!portText.empty()) {
            const auto port = parseIntText(portText);
            if (!port || *port < 0 || *port > 65535 || portText[0] == '+' || portText[0] == '-') return std::nullopt;
            parts.port = int(*port);
            parts.explicitPort = true;
        }
    }
    return parts;
}

std::string machineHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return lowerASCII(name);
}

}  // namespace

bool HTTPServer::hostAllowed(const std::string& host) {
    if (host.empty()) return true;  // no Host header: not a browser
    std::string name;
    if (host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        in6_addr v6{};
        return ::inet_pton(AF_INET6, host.substr(1, close - 1).c_str(), &v6) == 1;
    }
    name = lowerASCII(host.substr(0, host.find(':')));
    in_addr v4{};
    if (::inet_pton(AF_INET, name.c_str(), &v4) == 1) return true;
    if (name == "localhost" || (name.size() > 6 && name.ends_with(".local"))) return true;
    return !name.empty() && name == machineHostName();
}

bool HTTPServer::hostMatches(const std::string& origin, const std::string& host) {
    const auto o = parseOrigin(origin);
    if (!o) return false;
    const auto pieces = splitDroppingEmpty(host, ":");
    const std::string hostName = pieces.empty() ? "" : std::string(pieces[0]);
    int hostPort = 80;
    if (pieces.size() >= 2) {
        if (const auto p = parseIntText(pieces[1])) hostPort = int(*p);
    }
    return o->host == hostName && (o->port == hostPort || !o->explicitPort);
}

bool HTTPServer::tokenOK(const HTTPReq& req) const {
    std::string given = req.header("x-corvane-token");
    if (given.empty()) given = req.param("token");
    const std::string mine = token();
    return !mine.empty() && constantTimeEqual(given, mine);
}

bool HTTPServer::passesOriginAndPin(int fd, const HTTPReq& req, const RouteFacts& facts) const {
    const std::string origin = req.header("origin");
    const bool originChecked = !facts.originFree && req.method != "OPTIONS";
    if (originChecked && !origin.empty() && !hostMatches(origin, req.header("host")) && !tokenOK(req)) {
        sendJSON(fd, 403, errorJSON("跨设备访问需要令牌"));
        return false;
    }

    const std::string devicePin = pin();
    if (!devicePin.empty() && !facts.pinExempt) {
        const bool viaQuery = req.query.count("pin") && constantTimeEqual(req.param("pin"), devicePin);
        const bool viaHeader = req.headers.count("x-pin") && constantTimeEqual(req.header("x-pin"), devicePin);
        if (!viaQuery && !viaHeader) {
            sendJSON(fd, 401, errorJSON("需要访问口令"));
            return false;
        }
    }
    return true;
}

bool HTTPServer::keepsAlive(const HTTPReq& req) {
    return lowerASCII(req.header("connection")).find("close") == std::string::npos;
}

bool HTTPServer::admits(int fd, const HTTPReq& req, const RouteFacts& facts) const {
    // A page whose own name resolves to this device (DNS rebinding) is same-origin to
    // the browser: only requests naming this device by address or local name pass.
    if (!hostAllowed(req.header("host"))) {
        sendJSON(fd, 403, errorJSON("host not allowed"));
        return false;
    }
    if (req.method == "OPTIONS" && !facts.ownPreflight) {
        respond(fd, 204, {}, "");
        return false;
    }
    if (!passesOriginAndPin(fd, req, facts)) return false;
    if (facts.teamGated && !nasExtOn()) {
        refuseTeamMode(fd);
        return false;
    }
    return true;
}

HTTPServer::Handled HTTPServer::handle(int fd, const HTTPReq& req, const std::string& peerIP, RouteTable::Match& match) {
    Handled handled{keepsAlive(req), {}};
    if (admits(fd, req, routes_.factsFor(req.path))) handled.afterReply = route(fd, req, peerIP, match);
    return handled;
}

}  // namespace corvane
