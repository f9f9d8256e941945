// Unpacking a package: modes and symlinks survive, and an entry that would land
// outside the folder, or be written through a symlink, or more bytes than the
// limit, fail the whole unpack.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/zip_writer.h"
#include "updater/package_unpack.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::ZipItem;

class PackageUnpack : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(into()); }
    fs::path into() const { return box / "deep" / "unpack"; }
    fs::path zip() const { return box / "p.zip"; }

    test::Sandbox box;
};

TEST_F(PackageUnpack, keepsModesAndSymlinks) {
    ASSERT_TRUE(test::writeZip(zip(), {
        ZipItem::folder("Corvane.app/"),
        ZipItem::folder("Corvane.app/bin/"),
        ZipItem::file("Corvane.app/bin/corvane", "#!/bin/sh\n", 0755),
        ZipItem::file("Corvane.app/marker.txt", "new", 0600),
        ZipItem::symlink("Corvane.app/link", "marker.txt"),
    }));
    ASSERT_EQ(unpackPackage(zip(), into()).has_value(), false);

    const fs::path app = into() / "Corvane.app";
    EXPECT_EQ(fs::status(app / "bin" / "corvane").permissions() & fs::perms::mask, fs::perms(0755));
    EXPECT_EQ(fs::status(app / "marker.txt").permissions() & fs::perms::mask, fs::perms(0600));
    ASSERT_TRUE(fs::is_symlink(app / "link"));
    EXPECT_EQ(fs::read_symlink(app / "link"), "marker.txt");
    EXPECT_EQ(test::readFile(app / "link"), "new");
}

TEST_F(PackageUnpack, refusesEntriesThatLeaveTheFolder) {
    struct Case {
        const char* what;
        std::vector<ZipItem> items;
        fs::path mustNotExist;
    };
    const fs::path outside = box / "escaped";
    const std::vector<Case> cases = {
        {"a parent step", {ZipItem::file("ok.txt", "x"), ZipItem::file("../escaped", "bad")}, box / "deep" / "escaped"},
        {"a parent step inside", {ZipItem::file("a/../../escaped", "bad")}, box / "deep" / "escaped"},
        {"an absolute path", {ZipItem::file(outside.string(), "bad")}, outside},
        {"a write through a symlink",
         {ZipItem::symlink("Corvane.app", box.path().string()), ZipItem::file("Corvane.app/escaped", "bad")},
         outside},
        {"a write through a relative symlink",
         {ZipItem::symlink("up", "../.."), ZipItem::file("up/escaped", "bad")},
         outside},
    };
    for (const Case& c : cases) {
        fs::remove_all(into());
        fs::create_directories(into());
        ASSERT_TRUE(test::writeZip(zip(), c.items)) << c.what;
        const auto failure = unpackPackage(zip(), into());
        ASSERT_TRUE(failure.has_value()) << c.what;
        EXPECT_EQ(failure->message.rfind("解压安装包失败：", 0), 0u) << c.what << ": " << failure->message;
        EXPECT_GT(failure->message.size(), std::string("解压安装包失败：").size()) << c.what;
        EXPECT_FALSE(fs::exists(c.mustNotExist)) << c.what;
    }
}

TEST_F(PackageUnpack, aFileThatIsNoZipFailsWithTheReadersReason) {
    test::writeFile(zip(), "<html>404</html>");
    const auto failure = unpackPackage(zip(), into());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->message.rfind("解压安装包失败：", 0), 0u) << failure->message;
    EXPECT_TRUE(fs::is_empty(into()));
}

// A 300 KB package once unpacked to 300 MiB of zeros unchecked.
TEST_F(PackageUnpack, stopsOnceTheUnpackedBytesPassTheLimit) {
    const int64_t limit = int64_t(1) << 20;
    const std::string half(size_t(limit / 2), 'z');
    const struct { const char* what; std::string last; bool fits; } cases[] = {
        {"exactly the limit", half, true},
        {"one byte more", half + "x", false},
    };
    for (const auto& c : cases) {
        fs::remove_all(into());
        fs::create_directories(into());
        ASSERT_TRUE(test::writeZip(zip(), {ZipItem::file("Corvane.app/a", half), ZipItem::file("Corvane.app/b", c.last)}));
        const auto failure = unpackPackage(zip(), into(), limit);
        EXPECT_EQ(failure.has_value() ? failure->message : "", c.fits ? "" : "解压安装包失败：解压后超过 1 MiB") << c.what;
        EXPECT_EQ(test::readFile(into() / "Corvane.app" / "b") == c.last, c.fits) << c.what;
    }
}

TEST_F(PackageUnpack, aSymlinkedTempFolderStillWorks) {
    fs::create_directory_symlink(box / "deep", box / "tmp-link");
    ASSERT_TRUE(test::writeZip(zip(), {ZipItem::file("Corvane.app/a", "1")}));
    EXPECT_FALSE(unpackPackage(zip(), box / "tmp-link" / "unpack").has_value());
    EXPECT_EQ(test::readFile(into() / "Corvane.app" / "a"), "1");
}

}  // namespace
}  // namespace corvane
