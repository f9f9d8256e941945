// Blocks reserved ahead of a long write: the file's size and the bytes outside the write
// never change, and a write that stops early gives back what it reserved inside the file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "base/space_ahead.h"
#include "base/unique_fd.h"
#include "support/test_support.h"

using namespace corvane;

namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kPiece = 65536;

int64_t allocated(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? int64_t(st.st_blocks) * 512 : -1;
}

bool onMemoryFileSystem(const std::filesystem::path& folder) {
    struct statfs fs {};
    return ::statfs(folder.c_str(), &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

struct Case {
    const char* name;
    int64_t before;     // bytes of the file there before
    int64_t hole;       // of them, the 4 MiB from this offset are a hole (-1: none)
    int64_t offset;     // where the write starts
    int64_t length;     // announced
    int64_t written;    // written before the stop
    bool append;        // the file opened to append
    bool ahead;         // blocks are reserved ahead of the written bytes at some point
    int64_t keptPast;   // reserved blocks a stop may leave past the file's end
};

TEST(SpaceAhead, ReservesAheadKeepsTheFileAndGivesBackOnlyItsOwnRange) {
    test::Sandbox sandbox;
    if (onMemoryFileSystem(sandbox.path())) GTEST_SKIP() << "no reservation on a memory file system";
    const Case cases[] = {
        {"a long write", 0, -1, 0, 10 * kMiB, 10 * kMiB, false, true, 0},
        {"a chunk over held bytes", 12 * kMiB, -1, 4 * kMiB, 4 * kMiB, 4 * kMiB, false, false, 0},
        {"a chunk into a hole between held ones", 12 * kMiB, 4 * kMiB, 4 * kMiB, 4 * kMiB, 4 * kMiB, false, true, 0},
        {"stopped early in a hole", 12 * kMiB, 4 * kMiB, 4 * kMiB, 4 * kMiB, kMiB + 5, false, true, 0},
        {"stopped early past the end", 4 * kMiB, -1, 8 * kMiB, 4 * kMiB, 300000, false, true, 300000},
        {"a long write stopped early", 0, -1, 0, 64 * kMiB, 9 * kMiB + 3, false, true, 4 * kMiB},
        {"stalled before its first quarter MiB", 0, -1, 0, 4 * kMiB, 200000, false, false, 0},
        {"a file opened to append", 0, -1, 0, 10 * kMiB, 10 * kMiB, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = sandbox / c.name;
        std::string there = test::patterned(size_t(c.before), 'x');
        test::writeFile(path, there);
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | (c.append ? O_APPEND : 0)));
        ASSERT_TRUE(fd);
        if (c.hole >= 0) {
            ASSERT_EQ(::fallocate(fd.get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, c.hole, 4 * kMiB), 0);
            there.replace(size_t(c.hole), size_t(4 * kMiB), size_t(4 * kMiB), '\0');
        }
        ASSERT_EQ(::fsync(fd.get()), 0);
        const int64_t blocksBefore = allocated(fd.get());
        ASSERT_EQ(::lseek(fd.get(), off_t(c.offset), SEEK_SET), off_t(c.offset));

        SpaceAhead space(fd.get(), c.length);
        const std::string body = test::patterned(size_t(c.written), 'b');
        int64_t mostAhead = 0;
        for (int64_t at = 0; at < c.written; at += kPiece) {
            const int64_t end = std::min(at + kPiece, c.written);
            space.before(at, end);
            ASSERT_EQ(::write(fd.get(), body.data() + at, size_t(end - at)), end - at);
            // Never more ahead than has come, nor more than a chunk.
            const int64_t ahead = allocated(fd.get()) - blocksBefore - end;
            EXPECT_LE(ahead, std::min(end, 4 * kMiB) + kPiece) << "after " << end;
            mostAhead = std::max(mostAhead, ahead);
        }
        EXPECT_EQ(mostAhead > kPiece, c.ahead) << mostAhead;
        if (c.written < c.length) space.stoppedAt(c.written);
        ASSERT_EQ(::fsync(fd.get()), 0);

        // The written bytes stand over what was there; nothing outside the write's range moved.
        const std::string now = test::readFile(path);
        const size_t at = c.append ? there.size() : size_t(c.offset);
        const size_t rangeEnd = at + size_t(c.length);
        EXPECT_EQ(now.size(), std::max(there.size(), at + body.size()));
        std::string before = there;
        before.resize(std::max(before.size(), at), '\0');  // a write past the end leaves a hole before it
        EXPECT_TRUE(now.compare(0, at, before, 0, at) == 0);
        EXPECT_TRUE(now.compare(at, body.size(), body) == 0);
        if (there.size() > rangeEnd) {
            EXPECT_TRUE(now.compare(rangeEnd, std::string::npos, there, rangeEnd) == 0);
        }
        // Blocks: those there, the written bytes', and what a stop may leave past the end.
        EXPECT_LE(allocated(fd.get()), blocksBefore + c.written + c.keptPast + kPiece) << allocated(fd.get());
    }
}

}  // namespace
