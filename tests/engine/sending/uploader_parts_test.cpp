// The parts of the send queue that need no receiver: chunk counts, chunk reads
// and folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

#include "engine/sending/uploader.h"
#include "support/test_loop.h"
#include "support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Sandbox;
using test::writeFile;

TEST(UploaderParts, ChunkCountRoundsUpAndGivesAnEmptyFileOne) {
    const struct { int64_t size, chunks; } cases[] = {
        {0, 1}, {1, 1}, {4194304, 1}, {4194305, 2}, {3 * 4194304, 3}, {3 * 4194304 + 1, 4}};
    for (const auto& c : cases) EXPECT_EQ(chunkCount(c.size), c.chunks) << c.size;
}

// The bytes a slice of an open file stands for.
std::string bytesOf(const FileSlice& slice) {
    std::string bytes(size_t(slice.length), '\0');
    const ssize_t n = ::pread(slice.fd, bytes.data(), bytes.size(), off_t(slice.offset));
    bytes.resize(n < 0 ? 0 : size_t(n));
    return bytes;
}

TEST(UploaderParts, ChunkSourceGivesTheBytesOrSaysWhyNot) {
    Sandbox box;
    writeFile(box / "f.bin", "0123456789");
    const struct {
        const char* why;
        fs::path file;
        int64_t offset, length;
        std::string bytes;
        std::optional<std::string> error;
    } cases[] = {
        {"whole file", box / "f.bin", 0, 10, "0123456789", std::nullopt},
        {"inner piece", box / "f.bin", 4, 3, "456", std::nullopt},
        {"empty chunk", box / "f.bin", 0, 0, "", std::nullopt},
        {"file got shorter", box / "f.bin", 8, 5, "", "文件在发送过程中被修改"},
        {"offset past the end", box / "f.bin", 20, 5, "", "文件在发送过程中被修改"},
        {"missing file", box / "gone.bin", 0, 1, "", "No such file or directory"},
    };
    for (const auto& c : cases) {
        ChunkSource source(c.file);
        const Result<FileSlice> slice = source.slice(c.offset, c.length);
        EXPECT_EQ(slice ? bytesOf(*slice) : "", c.bytes) << c.why;
        EXPECT_EQ(slice ? std::nullopt : std::optional<std::string>(slice.refusal()), c.error) << c.why;
    }
}

TEST(UploaderParts, ChunkSourceKeepsReadingTheFileItOpenedFirst) {
    Sandbox box;
    writeFile(box / "f.bin", "first version");
    ChunkSource source(box / "f.bin");
    ASSERT_TRUE(source.slice(0, 5));
    fs::remove(box / "f.bin");
    writeFile(box / "f.bin", "SECOND VERSION");  // another file takes the name
    const Result<FileSlice> later = source.slice(6, 7);
    ASSERT_TRUE(later);
    EXPECT_EQ(bytesOf(*later), "version");
}

class UploaderFolders : public ::testing::Test {
protected:
    std::vector<std::string> relPaths(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
        std::vector<std::string> out;
        for (const auto& t : tasks) out.push_back(t->relPath);
        std::sort(out.begin(), out.end());
        return out;
    }

    Sandbox box;
    test::TestLoop loop;
    Uploader uploader{loop};
    std::vector<std::string> logs;
    void SetUp() override {
        uploader.onLog = [this](const std::string& line) { logs.push_back(line); };
    }
};

TEST_F(UploaderFolders, FolderGivesOneTaskPerVisibleRegularFile) {
    writeFile(box / "Photos" / "2024" / "a.jpg", "a");
    writeFile(box / "Photos" / "b c+d.txt", "bb");
    writeFile(box / "Photos" / ".cache" / "x", "x");
    writeFile(box / "Photos" / ".DS_Store", "x");
    writeFile(box / "Photos" / "2024" / ".hidden" / "deep.txt", "x");
    writeFile(box / "elsewhere.txt", "x");
    fs::create_directories(box / "Photos" / "empty");
    fs::create_symlink(box / "elsewhere.txt", box / "Photos" / "link.txt");

    const auto tasks = uploader.expandDirectory(box / "Photos", std::nullopt).tasks;
    EXPECT_EQ(relPaths(tasks), (std::vector<std::string>{"Photos/2024/a.jpg", "Photos/b c+d.txt"}));
    for (const auto& t : tasks) {
        EXPECT_EQ(t->fileName, fs::path(t->relPath).filename().string());
        EXPECT_EQ(t->totalSize, t->fileName == "a.jpg" ? 1 : 2);
    }
    EXPECT_TRUE(logs.empty());
    EXPECT_TRUE(uploader.tasks().empty()) << "the caller appends the tasks itself";
    // A trailing slash names the same folder; a missing folder gives no tasks.
    EXPECT_EQ(relPaths(uploader.expandDirectory(box.path().string() + "/Photos/", std::nullopt).tasks), relPaths(tasks));
    EXPECT_TRUE(uploader.expandDirectory(box / "nothing", std::nullopt).tasks.empty());
}

TEST_F(UploaderFolders, LargeFolderIsCutAt3000AndSaysSo) {
    const struct { int files; size_t tasks; bool logged; } cases[] = {
        {3000, 3000, false}, {3001, 3000, true}, {5000, 3000, true}};
    for (const auto& c : cases) {
        const fs::path folder = box / ("Many" + std::to_string(c.files));
        fs::create_directories(folder);
        for (int k = 0; k < c.files; ++k) std::ofstream(folder / ("f" + std::to_string(k))) << k;
        logs.clear();
        const FolderTasks expanded = uploader.expandDirectory(folder, std::nullopt);
        EXPECT_EQ(expanded.tasks.size(), c.tasks) << c.files;
        ASSERT_EQ(logs.size(), c.logged ? 1u : 0u) << c.files;
        ASSERT_EQ(expanded.cutNotice.has_value(), c.logged) << c.files;
        if (c.logged) {
            EXPECT_EQ(logs[0], "「" + folder.filename().string() + "」超过 3000 个文件，只发送了前 3000 个");
            EXPECT_EQ(*expanded.cutNotice, logs[0]);
        }
    }
}

}  // namespace
}  // namespace corvane
