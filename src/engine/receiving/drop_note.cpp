#include "engine/receiving/drop_note.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr std::string_view kPrefix = ".dropped-";

fs::path noteFile(const fs::path& parts, const std::string& id) { return parts / (std::string(kPrefix) + id); }

}  // namespace

bool noteDrop(const fs::path& parts, const DropNote& note) {
    const std::string text =
        nlohmann::json{{"owner", note.owner}, {"keptUntil", note.keptUntil}, {"busyUntil", note.busyUntil}}.dump();
    return writeWholeFile(noteFile(parts, note.id), text);
}

bool isDropNote(const fs::path& entry) {
    const std::string name = entry.filename().string();
    return name.starts_with(kPrefix) && name.size() > kPrefix.size();
}

std::optional<DropNote> readDropNote(const fs::path& entry) {
    const FileRead read = readWholeFile(entry);
    if (!read.readable) return std::nullopt;
    const nlohmann::json json = nlohmann::json::parse(read.bytes, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    const auto number = [&](const char* key) {
        const auto found = json.find(key);
        return found != json.end() && found->is_number() ? found->get<double>() : 0.0;
    };
    const auto owner = json.find("owner");
    if (owner == json.end() || !owner->is_string()) return std::nullopt;
    const std::string name = entry.filename().string();
    return DropNote{name.substr(kPrefix.size()), owner->get<std::string>(), number("keptUntil"), number("busyUntil")};
}

void forgetDrop(const fs::path& parts, const std::string& id) { ::unlink(noteFile(parts, id).c_str()); }

}  // namespace corvane
