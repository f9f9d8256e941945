#include "engine/receiving/finish_note.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

const char* const kNoteAttribute = "user.corvane.finish";
const char* const kNoteFile = "stored.json";

std::optional<std::string> noteText(const fs::path& folder) {
    const ssize_t size = ::getxattr(folder.c_str(), kNoteAttribute, nullptr, 0);
    if (size >= 0) {
        std::string text(size_t(size), '\0');
        const ssize_t n = ::getxattr(folder.c_str(), kNoteAttribute, text.data(), text.size());
        if (n >= 0) {
            text.resize(size_t(n));
            return text;
        }
    }
    const FileRead file = readWholeFile(folder / kNoteFile);
    if (file.readable) return file.bytes;
    return std::nullopt;
}

bool leftFolder(const fs::path& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_nlink > 1;
}

}  // namespace

bool noteFinish(const fs::path& folder, const FinishNote& note) {
    const std::string text =
        nlohmann::json{{"id", note.id}, {"owner", note.owner}, {"file", note.file}, {"reply", note.reply}, {"at", note.at}}
            .dump();
    if (::setxattr(folder.c_str(), kNoteAttribute, text.data(), text.size(), 0) == 0) return true;
    // A long reply may not fit the attribute's room: the file then, and no older note.
    ::removexattr(folder.c_str(), kNoteAttribute);
    return writeWholeFile(folder / kNoteFile, text);
}

std::optional<FinishNote> storedFinish(const fs::path& folder) {
    const auto written = noteText(folder);
    if (!written) return std::nullopt;
    const nlohmann::json json = nlohmann::json::parse(*written, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    const auto text = [&](const char* key) {
        const auto found = json.find(key);
        return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const auto at = json.find("at");
    const double noted = at != json.end() && at->is_number() ? at->get<double>() : 0;
    const FinishNote note{text("id"), text("owner"), text("file"), text("reply"), noted};
    const bool named = !note.file.empty() && note.file.find('/') == std::string::npos;
    if (note.id.empty() || note.reply.empty() || !named || !leftFolder(folder / note.file)) return std::nullopt;
    return note;
}

void forgetFinishNote(const fs::path& folder) {
    forgetNoteAttribute(folder);
    ::unlink((folder / kNoteFile).c_str());
}

void forgetNoteAttribute(const fs::path& folder) { ::removexattr(folder.c_str(), kNoteAttribute); }

bool keepOnlyFinishNote(const fs::path& folder) {
    bool kept = true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() == kNoteFile) continue;
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
        kept = kept && !removeError;
    }
    return kept && !ec;
}

}  // namespace corvane
