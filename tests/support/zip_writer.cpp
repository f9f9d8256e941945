#include "support/zip_writer.h"

#include <memory>

#include <archive.h>
#include <archive_entry.h>

namespace corvane::test {

namespace {

mode_t typeBits(ZipItem::Kind kind) {
    switch (kind) {
        case ZipItem::Kind::file: return AE_IFREG;
        case ZipItem::Kind::folder: return AE_IFDIR;
        case ZipItem::Kind::symlink: return AE_IFLNK;
    }
    return AE_IFREG;
}

bool writeItem(archive* out, const ZipItem& item) {
    std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(entry.get(), item.name.c_str());
    archive_entry_set_filetype(entry.get(), typeBits(item.kind));
    archive_entry_set_perm(entry.get(), mode_t(item.mode));
    archive_entry_set_mtime(entry.get(), 1700000000, 0);
    if (item.kind == ZipItem::Kind::symlink) archive_entry_set_symlink(entry.get(), item.content.c_str());
    const bool withData = item.kind == ZipItem::Kind::file;
    archive_entry_set_size(entry.get(), withData ? la_int64_t(item.content.size()) : 0);
    if (archive_write_header(out, entry.get()) != ARCHIVE_OK) return false;
    if (withData && !item.content.empty() &&
        archive_write_data(out, item.content.data(), item.content.size()) != la_ssize_t(item.content.size())) {
        return false;
    }
    return true;
}

}  // namespace

bool writeZip(const std::filesystem::path& zip, const std::vector<ZipItem>& items) {
    std::unique_ptr<archive, int (*)(archive*)> out(archive_write_new(), archive_write_free);
    if (archive_write_set_format_zip(out.get()) != ARCHIVE_OK) return false;
    archive_write_set_options(out.get(), "zip:compression=store");
    if (archive_write_open_filename(out.get(), zip.c_str()) != ARCHIVE_OK) return false;
    for (const ZipItem& item : items) {
        if (!writeItem(out.get(), item)) return false;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

}  // namespace corvane::test
