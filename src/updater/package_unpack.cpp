#include "updater/package_unpack.h"

#include <memory>
#include <string>

#include <archive.h>
#include <archive_entry.h>

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr int kExtractFlags = ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                              ARCHIVE_EXTRACT_SECURE_SYMLINKS;

using Reader = std::unique_ptr<archive, int (*)(archive*)>;
using Writer = std::unique_ptr<archive, int (*)(archive*)>;

UpdateError unpackError(const std::string& reason) { return UpdateError{"解压安装包失败：" + reason}; }

std::string reasonOf(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

// Points the entry's path (and hard-link target) into the folder. The entry's
// own name is checked for an absolute path here, since the joined path is
// always absolute; ".." and symlinks are libarchive's checks on the joined path.
std::optional<UpdateError> placeEntry(archive_entry* entry, const fs::path& folder) {
    const char* name = archive_entry_pathname(entry);
    if (!name || !*name) return unpackError("Invalid empty pathname");
    if (name[0] == '/') return unpackError(std::string("Path is absolute: ") + name);
    archive_entry_copy_pathname(entry, (folder / name).c_str());
    if (const char* link = archive_entry_hardlink(entry)) {
        if (link[0] == '/') return unpackError(std::string("Path is absolute: ") + link);
        archive_entry_copy_hardlink(entry, (folder / link).c_str());
    }
    return std::nullopt;
}

// "4 GiB", "1 MiB" or "1000 字节".
std::string sizeText(int64_t bytes) {
    constexpr int64_t kMiB = int64_t(1) << 20;
    constexpr int64_t kGiB = int64_t(1) << 30;
    if (bytes > 0 && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
    if (bytes > 0 && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " 字节";
}

// The bytes the whole unpack may write, and those written so far.
struct SizeLimit {
    int64_t max = 0;
    int64_t written = 0;
};

// Copies one entry's data, counting it against the limit before it is written.
std::optional<UpdateError> copyData(archive* in, archive* out, SizeLimit& limit) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    while (true) {
        const int rc = archive_read_data_block(in, &block, &size, &offset);
        if (rc == ARCHIVE_EOF) return std::nullopt;
        if (rc < ARCHIVE_WARN) return unpackError(reasonOf(in));
        if (int64_t(size) > limit.max - limit.written) return unpackError("解压后超过 " + sizeText(limit.max));
        limit.written += int64_t(size);
        if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN) return unpackError(reasonOf(out));
    }
}

}  // namespace

std::optional<UpdateError> unpackPackage(const fs::path& zip, const fs::path& folder, int64_t maxBytes) {
    // libarchive refuses to pass through any symlink on the way, also one above the folder.
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return unpackError(folder.string() + ": " + ec.message());

    Reader in(archive_read_new(), archive_read_free);
    Writer out(archive_write_disk_new(), archive_write_free);
    if (!in || !out) return unpackError("out of memory");
    archive_read_support_format_zip(in.get());
    archive_read_support_filter_all(in.get());
    archive_write_disk_set_options(out.get(), kExtractFlags);
    archive_write_disk_set_standard_lookup(out.get());
    if (archive_read_open_filename(in.get(), zip.c_str(), 1 << 16) != ARCHIVE_OK) return unpackError(reasonOf(in.get()));

    SizeLimit limit{maxBytes};
    while (true) {
        archive_entry* entry = nullptr;
        const int rc = archive_read_next_header(in.get(), &entry);
        if (rc == ARCHIVE_EOF) break;
        if (rc < ARCHIVE_WARN) return unpackError(reasonOf(in.get()));
        if (auto refused = placeEntry(entry, root)) return refused;
        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN) return unpackError(reasonOf(out.get()));
        if (auto failed = copyData(in.get(), out.get(), limit)) return failed;
        if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN) return unpackError(reasonOf(out.get()));
    }
    if (archive_write_close(out.get()) < ARCHIVE_WARN) return unpackError(reasonOf(out.get()));
    return std::nullopt;
}

}  // namespace corvane
