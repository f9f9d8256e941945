#pragma once
// Zip archives made by tests: plain files, folders and symlinks with their
// modes, under any name (also "../x" or "/abs", which a safe unpacker refuses).

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::test {

struct ZipItem {
    enum class Kind { file, folder, symlink };
    Kind kind = Kind::file;
    std::string name;
    std::string content;  // a file's bytes, or a symlink's target
    int mode = 0644;

    static ZipItem file(std::string name, std::string content, int mode = 0644) {
        return {Kind::file, std::move(name), std::move(content), mode};
    }
    static ZipItem folder(std::string name) { return {Kind::folder, std::move(name), {}, 0755}; }
    static ZipItem symlink(std::string name, std::string target) {
        return {Kind::symlink, std::move(name), std::move(target), 0777};
    }
};

// Writes the items in order into an uncompressed zip; false on failure.
bool writeZip(const std::filesystem::path& zip, const std::vector<ZipItem>& items);

}  // namespace corvane::test
