#include "engine/model.h"

#include <algorithm>
#include <array>

#include "base/json_fields.h"
#include "base/random_hex.h"
#include "base/text_util.h"

namespace corvane {

namespace {

struct PlatformRow {
    const char* plat;
    const char* icon;
    const char* label;
};

constexpr std::array<PlatformRow, 6> kPlatforms{{
    {"darwin", "laptopcomputer", "Mac"},
    {"win32", "pc", "Windows"},
    {"windows", "pc", "Windows"},
    {"linux", "server.rack", "Linux"},
    {"android", "iphone.gen3", "Android"},
    {"manual", "network", "手动添加"},
}};

const PlatformRow* platformRow(const std::string& plat) {
    for (const auto& row : kPlatforms) {
        if (plat == row.plat) return &row;
    }
    return nullptr;
}

struct IconRow {
    std::initializer_list<const char*> extensions;
    const char* icon;
};

void mix(size_t& seed, size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

}  // namespace

std::string Peer::platformIcon() const {
    if (const auto* row = platformRow(plat)) return row->icon;
    return "desktopcomputer";
}

std::string Peer::platformLabel() const {
    if (const auto* row = platformRow(plat)) return row->label;
    if (plat.empty()) return "设备";
    return plat;
}

std::string FileItem::folder() const {
    const auto pieces = splitDroppingEmpty(path, "/");
    if (pieces.size() < 2) return "";
    std::string out;
    for (size_t k = 0; k + 1 < pieces.size(); ++k) {
        if (k) out += '/';
        out += pieces[k];
    }
    return out;
}

std::string FileItem::icon() const {
    static const std::array<IconRow, 10> rows{{
        {{"jpg", "jpeg", "png", "gif", "webp", "heic", "bmp", "tiff"}, "photo"},
        {{"mp4", "mov", "m4v", "webm", "mkv", "avi"}, "film"},
        {{"txt", "md", "json", "log", "csv", "swift", "js", "css", "html"}, "doc.text"},
        {{"pdf"}, "doc.richtext"},
        {{"zip", "rar", "7z", "tar", "gz"}, "archivebox"},
        {{"mp3", "wav", "m4a", "flac"}, "music.note"},
        {{"xlsx", "xls"}, "tablecells"},
        {{"docx", "doc"}, "doc.text"},
        {{"pptx", "ppt"}, "rectangle.on.rectangle"},
        {{"exe", "app", "dmg", "apk"}, "shippingbox"},
    }};
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : lowerASCII(name.substr(dot + 1));
    for (const auto& row : rows) {
        for (const char* e : row.extensions) {
            if (ext == e) return row.icon;
        }
    }
    return "doc";
}

nlohmann::json FileItem::toJSON() const {
    return {{"p", path}, {"n", name}, {"s", size}, {"t", mtime}};
}

FileItem FileItem::fromJSON(const nlohmann::json& obj) {
    const Fields f(obj);
    return FileItem{f.s("p").value_or(""), f.s("n").value_or(""), f.i64("s"), f.d("t")};
}

ServerEvent ServerEvent::fileReceived(FileItem f) {
    ServerEvent e;
    e.kind = Kind::fileReceived;
    e.file = std::move(f);
    return e;
}

ServerEvent ServerEvent::textReceived(FileItem f) {
    ServerEvent e;
    e.kind = Kind::textReceived;
    e.file = std::move(f);
    return e;
}

ServerEvent ServerEvent::burnText(std::string id, std::string text, std::string from) {
    ServerEvent e;
    e.kind = Kind::burnText;
    e.id = std::move(id);
    e.text = std::move(text);
    e.from = std::move(from);
    return e;
}

ServerEvent ServerEvent::chat(std::string id, std::string from, std::string fromName, std::string to,
                              std::string text, bool burn, double ts) {
    ServerEvent e;
    e.kind = Kind::chat;
    e.id = std::move(id);
    e.from = std::move(from);
    e.fromName = std::move(fromName);
    e.to = std::move(to);
    e.text = std::move(text);
    e.burn = burn;
    e.ts = ts;
    return e;
}

ServerEvent ServerEvent::chatBurn(std::string id) {
    ServerEvent e;
    e.kind = Kind::chatBurn;
    e.id = std::move(id);
    return e;
}

ServerEvent ServerEvent::log(std::string text) {
    ServerEvent e;
    e.kind = Kind::log;
    e.text = std::move(text);
    return e;
}

ServerEvent ServerEvent::teamPending() {
    ServerEvent e;
    e.kind = Kind::teamPending;
    return e;
}

ServerEvent ServerEvent::teamAccounts() {
    ServerEvent e;
    e.kind = Kind::teamAccounts;
    return e;
}

ServerEvent ServerEvent::teamIdentity() {
    ServerEvent e;
    e.kind = Kind::teamIdentity;
    return e;
}

ServerEvent ServerEvent::teamMail() {
    ServerEvent e;
    e.kind = Kind::teamMail;
    return e;
}

DiagLine DiagLine::make(Level level, std::string text, std::optional<std::string> hint) {
    // A fresh random id per line, like a UUID.
    return DiagLine{randomHex(16), level, std::move(text), std::move(hint)};
}

}  // namespace corvane

size_t std::hash<corvane::Peer>::operator()(const corvane::Peer& p) const noexcept {
    size_t seed = 0;
    const std::hash<std::string> hs;
    corvane::mix(seed, hs(p.id));
    corvane::mix(seed, hs(p.name));
    corvane::mix(seed, hs(p.realName));
    corvane::mix(seed, hs(p.ip));
    corvane::mix(seed, std::hash<int>()(p.port));
    corvane::mix(seed, std::hash<bool>()(p.pin));
    corvane::mix(seed, hs(p.token));
    corvane::mix(seed, hs(p.plat));
    corvane::mix(seed, hs(p.team));
    corvane::mix(seed, std::hash<double>()(p.lastSeen));
    return seed;
}

size_t std::hash<corvane::Target>::operator()(const corvane::Target& t) const noexcept {
    size_t seed = 0;
    if (t.isLocal()) {
        corvane::mix(seed, 0);
        return seed;
    }
    corvane::mix(seed, 1);
    corvane::mix(seed, std::hash<corvane::Peer>()(*t.peer));
    return seed;
}

size_t std::hash<corvane::FileItem>::operator()(const corvane::FileItem& f) const noexcept {
    size_t seed = 0;
    corvane::mix(seed, std::hash<std::string>()(f.path));
    corvane::mix(seed, std::hash<std::string>()(f.name));
    corvane::mix(seed, std::hash<int64_t>()(f.size));
    corvane::mix(seed, std::hash<double>()(f.mtime));
    return seed;
}
