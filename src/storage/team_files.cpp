#include "storage/team_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/file_names.h"
#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

std::optional<fs::path> keepBrokenCopy(const fs::path& file) {
    const fs::path folder = file.parent_path();
    const std::string name = file.filename().string() + ".broken-" + timestampString();
    const FileRead old = readWholeFile(file);
    if (!old.present) return std::nullopt;
    if (!old.readable) {
        const fs::path target = folder / uniqueName(folder, name);
        if (!renameNoReplace(file, target)) return std::nullopt;
        return target;
    }
    UniqueFile copy = openUnique(folder, name, 0600);
    if (!copy.fd) return std::nullopt;
    bool ok = ::fchmod(copy.fd.get(), 0600) == 0;
    ok = writeFully(copy.fd.get(), old.bytes) && ok;
    ok = ::fsync(copy.fd.get()) == 0 && ok;
    ok = copy.fd.close() && ok;
    const fs::path kept = folder / copy.name;
    if (!ok) {
        ::unlink(kept.c_str());
        return std::nullopt;
    }
    return kept;
}

}  // namespace corvane
