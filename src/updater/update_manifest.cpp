#include "updater/update_manifest.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "base/unicode_text.h"

namespace corvane {

namespace {

using nlohmann::json;

// A present, non-null value of the key, or nullptr (absent and null read as missing).
const json* member(const json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return nullptr;
    return &*it;
}

// A JSON number with no fraction that fits 64 bits.
std::optional<int64_t> wholeNumber(const json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(INT64_MAX)) return std::nullopt;
        return value.get<int64_t>();
    }
    if (!value.is_number_float()) return std::nullopt;
    const double d = value.get<double>();
    if (!std::isfinite(d) || d != std::floor(d) || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18) {
        return std::nullopt;
    }
    return int64_t(d);
}

std::optional<UpdateEntry> decodeEntry(const json& obj) {
    if (!obj.is_object()) return std::nullopt;
    UpdateEntry entry;
    const json* url = member(obj, "url");
    if (!url || !url->is_string()) return std::nullopt;
    entry.url = url->get<std::string>();
    if (const json* md5 = member(obj, "md5")) {
        if (!md5->is_string()) return std::nullopt;
        entry.md5 = md5->get<std::string>();
    }
    if (const json* size = member(obj, "size")) {
        entry.size = wholeNumber(*size);
        if (!entry.size) return std::nullopt;
    }
    return entry;
}

std::optional<std::vector<std::string>> decodeNotes(const json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<std::string> notes;
    for (const json& note : value) {
        if (!note.is_string()) return std::nullopt;
        notes.push_back(note.get<std::string>());
    }
    return notes;
}

std::optional<std::map<std::string, UpdateEntry>> decodeFiles(const json& value) {
    if (!value.is_object()) return std::nullopt;
    std::map<std::string, UpdateEntry> files;
    for (const auto& [key, item] : value.items()) {
        auto entry = decodeEntry(item);
        if (!entry) return std::nullopt;
        files.emplace(key, std::move(*entry));
    }
    return files;
}

}  // namespace

std::optional<UpdateManifest> UpdateManifest::decode(const std::string& body) {
    const json doc = json::parse(body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    UpdateManifest manifest;
    const json* latest = member(doc, "latest");
    if (!latest || !latest->is_string()) return std::nullopt;
    manifest.latest = latest->get<std::string>();
    if (const json* notes = member(doc, "notes")) {
        manifest.notes = decodeNotes(*notes);
        if (!manifest.notes) return std::nullopt;
    }
    if (const json* page = member(doc, "page")) {
        if (!page->is_string()) return std::nullopt;
        manifest.page = page->get<std::string>();
    }
    if (const json* files = member(doc, "files")) {
        manifest.files = decodeFiles(*files);
        if (!manifest.files) return std::nullopt;
    }
    return manifest;
}

std::string undecodableReason(const std::string& body) {
    const std::string head = body.substr(0, 100);
    return "响应无法解析：" + (isValidUTF8(head) ? head : std::string("非文本"));
}

}  // namespace corvane
