#include "app/app_config.h"

#include <nlohmann/json.hpp>

namespace corvane {

namespace {

using nlohmann::json;

std::string stringOr(const json& obj, const char* key, std::string fallback) {
    const auto it = obj.find(key);
    return (it != obj.end() && it->is_string()) ? it->get<std::string>() : fallback;
}

// An object whose values are all strings; anything else reads as empty.
std::map<std::string, std::string> stringMap(const json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end() || !it->is_object()) return {};
    std::map<std::string, std::string> out;
    for (const auto& [k, v] : it->items()) {
        if (!v.is_string()) return {};
        out[k] = v.get<std::string>();
    }
    return out;
}

// An array whose elements are all strings; anything else reads as empty.
std::vector<std::string> stringList(const json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end() || !it->is_array()) return {};
    std::vector<std::string> out;
    for (const json& v : *it) {
        if (!v.is_string()) return {};
        out.push_back(v.get<std::string>());
    }
    return out;
}

}  // namespace

std::string trimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

AppConfig AppConfig::parse(std::string_view bytes) {
    AppConfig config;
    const json doc = json::parse(bytes, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return config;
    config.usageMode = stringOr(doc, "usageMode", "") == "team" ? "team" : "lan";
    const auto welcome = doc.find("welcomeDone");
    config.welcomeDone = welcome != doc.end() && welcome->is_boolean() && welcome->get<bool>();
    config.centerID = stringOr(doc, "centerId", "");
    config.storageDir = stringOr(doc, "storageDir", "");
    config.deviceName = trimBlanks(stringOr(doc, "deviceName", ""));
    config.peerAliases = stringMap(doc, "peerAliases");
    config.manualPeers = stringList(doc, "manualPeers");
    return config;
}

std::string AppConfig::serialize(bool nasEnabled) const {
    json doc = json::object();
    doc["mode"] = nasEnabled ? "center" : "direct";
    doc["centerId"] = centerID;
    doc["storageDir"] = storageDir;
    doc["deviceName"] = deviceName;
    doc["usageMode"] = usageMode;
    doc["welcomeDone"] = welcomeDone;
    if (!peerAliases.empty()) doc["peerAliases"] = peerAliases;
    if (!manualPeers.empty()) doc["manualPeers"] = manualPeers;
    return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace corvane
