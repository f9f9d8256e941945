// Whole-file writes of the team folder.

#include <algorithm>
#include <gtest/gtest.h>

#include "base/whole_files.h"
#include "storage/team_files.h"
#include "team_test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, GivesTheBytesTheirModeUnderAnyUmaskAndLeavesNoTemporaryFile) {
    Sandbox box;
    writeFile(box / "f384", "old");
    fs::permissions(box / "f384", fs::perms(0644));  // a world-readable file replaced becomes private
    const mode_t oldMask = ::umask(0);
    for (const mode_t mode : {mode_t(0600), mode_t(0644)}) {
        const fs::path file = box / ("f" + std::to_string(mode));
        EXPECT_TRUE(writeFileAtomically(file, "bytes", mode)) << mode;
        EXPECT_EQ(readFile(file), "bytes") << mode;
        EXPECT_EQ(fileMode(file), unsigned(mode)) << mode;
    }
    ::umask(oldMask);
    EXPECT_EQ(namesIn(box.path()), (std::vector<std::string>{"f384", "f420"}));
}

}  // namespace
}  // namespace corvane::test
