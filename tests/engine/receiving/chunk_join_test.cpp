// Joining chunk files: exact bytes in order by every way of copying, and a failure
// reported when a chunk is missing or the disk is full.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/unique_fd.h"
#include "engine/receiving/chunk_join.h"
#include "support/small_tmpfs.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

// Writes chunks of the given sizes into the folder; their paths, and all their bytes in order.
std::vector<fs::path> writeChunks(const fs::path& folder, const std::vector<size_t>& sizes, std::string& joined) {
    std::vector<fs::path> paths;
    for (size_t k = 0; k < sizes.size(); ++k) {
        const std::string bytes = test::patterned(sizes[k], char('a' + k));
        paths.push_back(folder / ("chunk" + std::to_string(k)));
        writeFile(paths.back(), bytes);
        joined += bytes;
    }
    return paths;
}

// Joins into a new file at `target`; whether the join reported success.
bool joinInto(const fs::path& target, const std::vector<fs::path>& chunks) {
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!out) return false;
    const bool joined = joinFiles(out.get(), chunks);
    return out.close() && joined;
}

const std::vector<size_t> kMixedSizes = {4194304, 0, 4194304, 1048576 + 3, 1, 300000};

TEST(JoinFiles, EveryChunkLandsWholeAndInOrderWhateverItsSize) {
    Sandbox box;
    std::string expected;
    const auto chunks = writeChunks(box.path(), kMixedSizes, expected);
    ASSERT_TRUE(joinInto(box / "joined", chunks));
    EXPECT_EQ(readFile(box / "joined"), expected);
    EXPECT_EQ(fs::file_size(box / "joined"), expected.size());  // nothing reserved beyond the bytes shows
}

TEST(JoinFiles, ChunksOnAnotherFileSystemAreReadAndWritten) {
    Sandbox box;
    struct stat disk {}, shm {};
    if (::stat(box.path().c_str(), &disk) != 0 || ::stat("/dev/shm", &shm) != 0 || disk.st_dev == shm.st_dev) {
        GTEST_SKIP() << "needs /dev/shm on a file system of its own";
    }
    const fs::path folder = fs::path("/dev/shm") / ("corvane-join-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::string expected;
    const auto chunks = writeChunks(folder, kMixedSizes, expected);
    const bool joined = joinInto(box / "joined", chunks);
    fs::remove_all(folder);
    ASSERT_TRUE(joined);
    EXPECT_EQ(readFile(box / "joined"), expected);
}

TEST(JoinFiles, AMissingChunkFailsTheJoin) {
    Sandbox box;
    std::string expected;
    auto chunks = writeChunks(box.path(), {1000, 2000}, expected);
    chunks.insert(chunks.begin() + 1, box / "gone");
    EXPECT_FALSE(joinInto(box / "joined", chunks));
}

TEST(JoinFiles, RangesLandOneAfterAnotherFromTheGivenOffset) {
    Sandbox box;
    const std::string data = test::patterned(9000, 'd');
    const std::string tail = test::patterned(700, 't');
    writeFile(box / "data", data);
    writeFile(box / "tail", tail);
    writeFile(box / "joined", "kept" + std::string(50, '-'));
    UniqueFd out(::open((box / "joined").c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(out);
    ASSERT_EQ(::ftruncate(out.get(), 4), 0);
    const bool joined = joinFiles(out.get(), {FileRange{box / "data", 4096, 4096}, FileRange{box / "tail"},
                                              FileRange{box / "data", 8000}}, 4);
    ASSERT_TRUE(out.close() && joined);
    EXPECT_EQ(readFile(box / "joined"), "kept" + data.substr(4096, 4096) + tail + data.substr(8000));
}

TEST(JoinFiles, ARangePastTheEndOfItsFileFailsTheJoin) {
    Sandbox box;
    writeFile(box / "data", test::patterned(5000, 'd'));
    for (const FileRange& range : {FileRange{box / "data", 4096, 1000}, FileRange{box / "data", 6000}}) {
        UniqueFd out(::open((box / ("joined" + std::to_string(range.offset))).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        ASSERT_TRUE(out);
        EXPECT_FALSE(joinFiles(out.get(), {range})) << range.offset;
    }
}

TEST(JoinFilesDeathTest, AFullDiskFailsTheJoinInsteadOfCuttingTheFile) {
    if (!canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    fs::create_directories(box / "small");
    EXPECT_EXIT(
        {
            if (!mountSmallTmpfs(box / "small", 1536 * 1024)) std::_Exit(3);
            std::string expected;
            const auto chunks = writeChunks(box / "small", {600000, 600000}, expected);
            std::_Exit(joinInto(box / "small" / "joined", chunks) ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::test
