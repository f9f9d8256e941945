#include "app/item_move.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace corvane {

namespace {

// Copies a file, folder tree or symbolic link; never replaces anything.
void copyTree(const fs::path& from, const fs::path& to) {
    const fs::file_status status = fs::symlink_status(from);
    if (fs::is_symlink(status)) {
        fs::copy_symlink(from, to);
    } else if (fs::is_directory(status)) {
        if (!fs::create_directory(to, from)) throw fs::filesystem_error("exists", to, std::make_error_code(std::errc::file_exists));
        for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
            copyTree(entry.path(), to / entry.path().filename());
        }
    } else {
        fs::copy_file(from, to, fs::copy_options::none);
    }
    std::error_code ec;
    if (!fs::is_symlink(status)) fs::last_write_time(to, fs::last_write_time(from), ec);
}

Outcome copyThenRemove(const fs::path& from, const fs::path& to) {
    try {
        copyTree(from, to);
    } catch (const fs::filesystem_error& e) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(to, ec)) && e.code() != std::errc::file_exists) fs::remove_all(to, ec);
        return Refusal{e.code().message()};
    }
    std::error_code ec;
    fs::remove_all(from, ec);
    if (ec) return Refusal{ec.message()};
    return {};
}

}  // namespace

Outcome moveItemNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    const int err = errno;
    if (err == EXDEV) return copyThenRemove(from, to);
    if (err == EINVAL || err == ENOSYS) {
        // A file system without RENAME_NOREPLACE (or a move into itself): check first, then rename.
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0) return Refusal{std::strerror(EEXIST)};
        if (::rename(from.c_str(), to.c_str()) == 0) return {};
        return Refusal{std::strerror(errno)};
    }
    return Refusal{std::strerror(err)};
}

}  // namespace corvane
