#include "engine/discovery/discovery_datagram.h"

#include <algorithm>
#include <cstdint>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "base/json_fields.h"
#include "base/unicode_text.h"

namespace corvane {

namespace {

std::string text(const Fields& fields, std::string_view key) { return fields.s(key).value_or(""); }

// The decimal numbers of a dotted text, parts that are not numbers left out.
std::vector<uint32_t> octets(const std::string& dotted) {
    std::vector<uint32_t> out;
    size_t start = 0;
    while (start <= dotted.size()) {
        const size_t dot = std::min(dotted.find('.', start), dotted.size());
        const std::string_view piece = std::string_view(dotted).substr(start, dot - start);
        const bool digits =
            !piece.empty() && std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) {
            const auto v = parseIntText(piece);
            if (v && *v <= 0xffffffffLL) out.push_back(uint32_t(*v));
        }
        start = dot + 1;
    }
    return out;
}

std::optional<std::string> broadcastAddress(const InterfaceAddress& entry) {
    const auto addr = octets(entry.addr);
    const auto mask = octets(entry.mask);
    if (addr.size() != 4 || mask.size() != 4) return std::nullopt;
    std::string out;
    for (size_t k = 0; k < 4; ++k) {
        const uint32_t octet = (addr[k] & mask[k]) | (~mask[k] & 255u);
        if (k > 0) out += '.';
        out += std::to_string(octet);
    }
    return out;
}

}  // namespace

nlohmann::json hereMessage(const BeaconFields& self) {
    nlohmann::json msg = {{"v", 1},         {"t", "here"},         {"id", self.id},    {"name", self.name},
                          {"port", self.port}, {"pin", false}, {"token", self.token}, {"plat", "linux"}};
    if (!self.team.empty()) msg["team"] = self.team;
    return msg;
}

nlohmann::json probeMessage(const std::string& selfID) { return {{"v", 1}, {"t", "who"}, {"id", selfID}}; }

std::optional<HeardDatagram> readDatagram(std::string_view bytes, const std::string& selfID, const std::string& ip,
                                          double now) {
    const nlohmann::json obj = nlohmann::json::parse(bytes, nullptr, false);
    if (!obj.is_object()) return std::nullopt;
    const Fields fields(obj);
    if (fields.i("v") != 1) return std::nullopt;
    const std::string id = text(fields, "id");
    if (id.empty() || id == selfID) return std::nullopt;

    HeardDatagram heard;
    heard.peer.id = id;
    heard.peer.ip = ip;
    const std::string type = text(fields, "t");
    if (type == "who") {
        heard.kind = HeardDatagram::Kind::who;
        return heard;
    }
    if (type != "here") return std::nullopt;

    const int64_t port = fields.i("port");
    if (port < 1 || port > INT32_MAX) return std::nullopt;
    heard.kind = HeardDatagram::Kind::here;
    heard.peer.port = int(port);
    heard.peer.name = graphemePrefix(text(fields, "name"), 60);
    if (heard.peer.name.empty()) heard.peer.name = ip;
    heard.peer.pin = fields.b("pin");
    heard.peer.token = text(fields, "token");
    heard.peer.plat = graphemePrefix(text(fields, "plat"), 12);
    heard.peer.team = graphemePrefix(text(fields, "team"), 30);
    heard.peer.lastSeen = now;
    return heard;
}

bool peerChanged(const PeerInfo& before, const PeerInfo& after, double staleAfter) {
    return before.ip != after.ip || before.port != after.port || before.name != after.name ||
           before.pin != after.pin || before.team != after.team || after.lastSeen - before.lastSeen > staleAfter;
}

std::vector<std::string> broadcastTargetsFor(const std::vector<InterfaceAddress>& interfaces) {
    std::vector<std::string> targets{"255.255.255.255", "127.0.0.1"};
    for (const auto& entry : interfaces) {
        const auto address = broadcastAddress(entry);
        if (!address || *address == "0.0.0.0" || *address == "255.255.255.255") continue;
        if (std::find(targets.begin(), targets.end(), *address) == targets.end()) targets.push_back(*address);
    }
    return targets;
}

std::string cleanTeamName(std::string_view team) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(team.data(), int32_t(team.size())));
    int32_t start = 0;
    int32_t end = u.length();
    while (start < end && u_isblank(u.char32At(start))) start = u.moveIndex32(start, 1);
    while (end > start && u_isblank(u.char32At(u.moveIndex32(end, -1)))) end = u.moveIndex32(end, -1);
    std::string trimmed;
    u.tempSubStringBetween(start, end).toUTF8String(trimmed);
    return graphemePrefix(trimmed, 40);
}

}  // namespace corvane
