// Moves on a file system that refuses RENAME_NOREPLACE (FUSE, GlusterFS): renameat2 is
// made to answer EINVAL by a seccomp filter in a child process, which counts how often it
// is asked, while the moves themselves happen on the local disk.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <functional>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include "base/file_names.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

#if defined(__x86_64__)

volatile sig_atomic_t renamesAsked = 0;

// renameat2 trapped: counted, and answered as a file system without the flag answers.
void refuseRename(int, siginfo_t*, void* context) {
    renamesAsked = renamesAsked + 1;
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RAX] = -EINVAL;
}

bool trapRenameat2() {
    struct sigaction action {};
    action.sa_sigaction = refuseRename;
    action.sa_flags = SA_SIGINFO;
    if (::sigaction(SIGSYS, &action, nullptr) != 0) return false;
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs `moves` in a child whose renameat2 is refused; how often the child asked for it, or
// -1 when a move failed or the filter could not be set.
int renamesAskedFor(const std::function<bool()>& moves) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (!trapRenameat2() || !moves()) ::_exit(255);
        ::_exit(renamesAsked);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

void makeFiles(const fs::path& folder, int count) {
    for (int k = 0; k < count; ++k) writeFile(folder / ("f" + std::to_string(k)), std::string(size_t(k + 1), 'x'));
}

TEST(MovesWithoutNoReplace, TheRefusalIsFoundOncePerFolderAndNothingIsReplaced) {
    Sandbox sandbox;
    const fs::path from = sandbox / "from";
    const fs::path to = sandbox / "to";
    const fs::path other = sandbox / "other";
    for (const fs::path& folder : {from, to, other}) fs::create_directories(folder);
    writeFile(to / "taken", "kept");
    // Ten files into one folder, a taken name refused, one file into another folder.
    const int asked = renamesAskedFor([&] {
        makeFiles(from, 11);
        for (int k = 0; k < 10; ++k) {
            if (!renameNoReplace(from / ("f" + std::to_string(k)), to / ("g" + std::to_string(k)))) return false;
        }
        writeFile(from / "new", "new");
        if (renameNoReplace(from / "new", to / "taken") || errno != EEXIST) return false;
        return renameNoReplace(from / "f10", other / "g10");
    });
    EXPECT_EQ(asked, 2);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(readFile(to / ("g" + std::to_string(k))), std::string(size_t(k + 1), 'x')) << k;
        EXPECT_FALSE(fs::exists(from / ("f" + std::to_string(k)))) << k;
    }
    EXPECT_EQ(readFile(to / "taken"), "kept");
    EXPECT_EQ(readFile(from / "new"), "new");
    EXPECT_EQ(readFile(other / "g10"), std::string(11, 'x'));
}

TEST(MovesWithoutNoReplace, FoldersMoveToFreeNamesAfterOneRefusalAndNeverOntoATakenOne) {
    Sandbox sandbox;
    const fs::path parts = sandbox / "parts";
    fs::create_directories(parts / "taken");
    writeFile(parts / "taken" / "chunk", "held");
    writeFile(parts / "file", "a file");
    const int asked = renamesAskedFor([&] {
        for (int k = 0; k < 10; ++k) {
            const fs::path folder = parts / (".made-" + std::to_string(k));
            if (::mkdir(folder.c_str(), 0700) != 0) return false;
            writeFile(folder / "meta", std::to_string(k));
            if (!renameToFreeName(folder, parts / std::to_string(k))) return false;
        }
        // Onto a folder that holds a chunk, onto an empty one, onto a file: each refused.
        if (::mkdir((parts / "empty").c_str(), 0700) != 0) return false;
        for (const char* taken : {"taken", "empty", "file"}) {
            if (renameToFreeName(parts / "0", parts / taken) || errno != EEXIST) return false;
        }
        // And a folder moved onto a taken name by the way that reserves it.
        return !renameNoReplace(parts / "1", parts / "taken") && renameNoReplace(parts / "1", parts / "reserved");
    });
    EXPECT_EQ(asked, 1);
    for (int k = 0; k < 10; ++k) {
        if (k == 1) continue;
        EXPECT_EQ(readFile(parts / std::to_string(k) / "meta"), std::to_string(k)) << k;
    }
    EXPECT_EQ(readFile(parts / "reserved" / "meta"), "1");
    EXPECT_EQ(readFile(parts / "taken" / "chunk"), "held");
    EXPECT_EQ(readFile(parts / "file"), "a file");
    EXPECT_TRUE(fs::is_empty(parts / "empty"));
}

#else

TEST(MovesWithoutNoReplace, TheRefusalIsFoundOncePerFolderAndNothingIsReplaced) {
    GTEST_SKIP() << "the seccomp trap that refuses renameat2 is written for x86_64 only";
}

#endif

}  // namespace
}  // namespace corvane::test
