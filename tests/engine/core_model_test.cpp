#include <gtest/gtest.h>

#include <unordered_set>

#include "engine/cfg.h"
#include "engine/format.h"
#include "engine/model.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(HumanSize, UnitsStepOnlyAtAThousandTwentyFour) {
    const struct {
        int64_t bytes;
        const char* want;
    } cases[] = {{0, "0 B"},           {1023, "1023 B"},          {-5, "-5 B"},
                 {1024, "1.00 KB"},    {1536, "1.50 KB"},         {1048575, "1024 KB"},
                 {10 * 1048576, "10.0 MB"}, {int64_t(100) << 30, "100 GB"},
                 {int64_t(5) << 50, "5120 TB"}, {10240, "10.0 KB"}, {102400, "100 KB"}};
    for (const auto& c : cases) EXPECT_EQ(humanSize(c.bytes), c.want) << c.bytes;
}

TEST(HumanSpeed, BelowOneIsADash) {
    EXPECT_EQ(humanSpeed(0.5), "—");
    EXPECT_EQ(humanSpeed(0), "—");
    EXPECT_EQ(humanSpeed(2048.9), "2.00 KB/s");
    EXPECT_EQ(humanSpeed(1), "1 B/s");
}

TEST(PeerPlatform, ExactCaseSensitiveRows) {
    const struct {
        const char* plat;
        const char* icon;
        const char* label;
    } cases[] = {{"darwin", "laptopcomputer", "Mac"},    {"win32", "pc", "Windows"},
                 {"windows", "pc", "Windows"},           {"linux", "server.rack", "Linux"},
                 {"android", "iphone.gen3", "Android"},  {"manual", "network", "手动添加"},
                 {"", "desktopcomputer", "设备"},         {"freebsd", "desktopcomputer", "freebsd"},
                 {"Darwin", "desktopcomputer", "Darwin"}};
    for (const auto& c : cases) {
        Peer p;
        p.plat = c.plat;
        EXPECT_EQ(p.platformIcon(), c.icon) << c.plat;
        EXPECT_EQ(p.platformLabel(), c.label) << c.plat;
    }
}

TEST(PeerIdentity, SnapshotsAtDifferentTimesDiffer) {
    Peer a{"id1", "n", "n", "10.0.0.2", 8899, false, "t", "linux", "", 1000};
    Peer b = a;
    b.lastSeen = 2000;
    EXPECT_NE(Target::of(a), Target::of(b));
    EXPECT_EQ(Target::of(a), Target::of(a));
    EXPECT_EQ(Target::local(), Target::local());
    EXPECT_NE(Target::local(), Target::of(a));
    std::unordered_set<Target> set{Target::of(a), Target::of(b), Target::local(), Target::of(a)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(FileItemFields, FolderAndIcon) {
    const struct {
        const char* path;
        const char* folder;
    } folders[] = {{"a.txt", ""}, {"x/y/a.txt", "x/y"}, {"a//b/c.txt", "a/b"}, {"/c.txt", ""}, {"", ""}};
    for (const auto& c : folders) EXPECT_EQ((FileItem{c.path, "", 0, 0}.folder()), c.folder) << c.path;

    const struct {
        const char* name;
        const char* icon;
    } icons[] = {{"Report.PDF", "doc.richtext"}, {"data.csv", "doc.text"}, {"archive.tar.gz", "archivebox"},
                 {"README", "doc"},              {"a.HEIC", "photo"},      {"x.docx", "doc.text"},
                 {"deck.ppt", "rectangle.on.rectangle"}, {"Setup.app", "shippingbox"}, {"trailing.", "doc"}};
    for (const auto& c : icons) EXPECT_EQ((FileItem{"", c.name, 0, 0}.icon()), c.icon) << c.name;
}

TEST(FileItemWire, ReadsLenientlyAndWritesFourKeys) {
    const auto item = FileItem::fromJSON({{"p", "a/b.txt"}, {"n", "b.txt"}, {"s", "12"}, {"t", 1.5}});
    EXPECT_EQ(item, (FileItem{"a/b.txt", "b.txt", 12, 1.5}));
    EXPECT_EQ(FileItem::fromJSON({{"p", 5}}), (FileItem{"", "", 0, 0}));
    const auto wire = item.toJSON();
    EXPECT_EQ(wire.size(), 4u);
    EXPECT_EQ(wire["s"], 12);
}

TEST(AppSupportFolder, EarlierFolderMovedOnlyWhenAlone) {
    test::Sandbox box;
    test::writeFile(box / "Quillpath" / "config.json", "{}");
    const fs::path moved = Cfg::appSupportIn(box.path());
    EXPECT_EQ(moved, box / "Corvane");
    EXPECT_TRUE(fs::exists(box / "Corvane" / "config.json"));
    EXPECT_FALSE(fs::exists(box / "Quillpath"));

    test::writeFile(box / "Quillpath" / "old.txt", "x");
    Cfg::appSupportIn(box.path());
    EXPECT_TRUE(fs::exists(box / "Quillpath" / "old.txt"));
    EXPECT_FALSE(fs::exists(box / "Corvane" / "old.txt"));
}

TEST(BootLog, AppendsTimedLinesAndCreatesTheFolder) {
    test::Sandbox box;
    bootLogIn(box / "deep" / "Corvane", "进程启动 pid=1");
    bootLogIn(box / "deep" / "Corvane", "second");
    const std::string text = test::readFile(box / "deep" / "Corvane" / "boot.log");
    ASSERT_EQ(text.size(), std::string("hh:mm:ss  进程启动 pid=1\nhh:mm:ss  second\n").size()) << text;
    EXPECT_EQ(text.substr(8, 2), "  ");
    EXPECT_NE(text.find("  进程启动 pid=1\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 9), "  second\n");
    // An unwritable place is ignored, never an error.
    bootLogIn("/proc/no-such-folder", "lost");
}

TEST(VersionSetting, CompiledIn) { EXPECT_EQ(Cfg::version(), "0.1.0"); }

}  // namespace
