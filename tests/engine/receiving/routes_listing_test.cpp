// The receive folder listing (GET /api/files, listFiles).

#include <fcntl.h>
#include <sys/stat.h>

#include "base/unicode_text.h"
#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class RoutesListing : public RouteTest {
protected:
    std::vector<std::string> listedPaths() {
        std::vector<std::string> paths;
        for (const auto& item : server->listFiles()) paths.push_back(item.path);
        return paths;
    }
    void touch(const std::string& rel, const std::string& bytes = "x") { writeFile(root / rel, bytes); }
    // The reply as a JSON tree built from listFiles() would write it.
    std::string treeWriterBody() {
        const std::vector<FileItem> items = server->listFiles();
        nlohmann::json files = nlohmann::json::array();
        for (const auto& item : items) files.push_back(item.toJSON());
        return encodeJSONBody({{"files", files}, {"truncated", items.size() >= 5000}}).value_or("no body");
    }
    void setMtime(const std::string& rel, time_t seconds, long nanoseconds) {
        const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (root / rel).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << rel;
    }
};

TEST_F(RoutesListing, FilesCarryPathNameSizeAndTimeAndAMissingFolderListsNothing) {
    EXPECT_EQ(call("GET", "/api/files").body, R"({"files":[],"truncated":false})");
    touch("docs/report.pdf", "12345");
    const timespec times[2] = {{0, UTIME_OMIT}, {1500000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "docs/report.pdf").c_str(), times, 0), 0);
    const nlohmann::json reply = callJSON("GET", "/api/files");
    EXPECT_EQ(reply, nlohmann::json({{"files", {{{"p", "docs/report.pdf"}, {"n", "report.pdf"}, {"s", 5},
                                                 {"t", 1500000000250.0}}}},
                                     {"truncated", false}}));
    server->setRoot(sandbox / "nowhere");
    EXPECT_EQ(call("GET", "/api/files").body, R"({"files":[],"truncated":false})");
}

TEST_F(RoutesListing, ReplyBytesAreThoseOfTheJSONTreeForAnyName) {
    const std::vector<std::string> names = {
        "照片/二〇二六/海边 1.jpg", "quote\"d/and\\back.txt", "ctl\x01\x02\x1f\x7f.bin",
        "tab\tnew\nline\rret\bbell\fff.txt", "plain.txt", "emoji 👩‍👩‍👧/😀.png", "slash-in/a/b/c.txt",
        "bad\xff/name.txt", "ok/bad\xc3.txt", "Ünïcödé/ÄÖ.md", "space /  two.txt"};
    for (const auto& rel : names) touch(rel, rel);
    setMtime("plain.txt", 0, 0);                     // "0.0"
    setMtime("slash-in/a/b/c.txt", 1500000000, 0);   // a whole number of milliseconds
    setMtime("Ünïcödé/ÄÖ.md", 1733572800, 123456789); // a fraction
    const RawReply reply = call("GET", "/api/files");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, treeWriterBody());
    EXPECT_NE(reply.body.find(R"("p":"slash-in\/a\/b\/c.txt","s":18,"t":1500000000000.0)"), std::string::npos);
    EXPECT_NE(reply.body.find(R"("n":"ctl\u0001\u0002\u001f)" "\x7f" R"(.bin")"), std::string::npos);
    EXPECT_EQ(reply.body.find("bad"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(reply.body)["files"].size(), 9u);
}

TEST_F(RoutesListing, DepthIsLimitedToSixComponents) {
    touch("a/b/c/d/e/f.txt");
    touch("a/b/c/d/e/f/g.txt");
    touch("a/b/c/d/e/f/g/h.txt");
    EXPECT_EQ(listedPaths(), std::vector<std::string>{"a/b/c/d/e/f.txt"});
}

TEST_F(RoutesListing, HiddenBundledLinkedPrivateAndNonUTF8EntriesAreNeverListed) {
    for (const char* rel : {".DS_Store", ".parts/0123456789abcdef/000000000000.part", ".trash/old.txt",
                            "photos/.cache/thumb.jpg", "Tool.app/Contents/Info.plist", "Tool.app.txt", "keep.txt",
                            "_team/users.json", "_users/bob/notes.txt", "_shared/plan.txt", "work/_team/a.txt",
                            "_team.txt", "bad\xff.txt", "bad\xfe-folder/inside.txt"}) {
        touch(rel);
    }
    fs::create_directories(root / "empty-folder");
    fs::create_symlink(root / "keep.txt", root / "link.txt");
    fs::create_directory_symlink(sandbox.path(), root / "linked-folder");
    EXPECT_EQ(listedPaths(), (std::vector<std::string>{"_shared/plan.txt", "_team.txt", "keep.txt", "Tool.app.txt",
                                                       "work/_team/a.txt"}));
    EXPECT_EQ(call("GET", "/api/files").status, 200);
}

TEST_F(RoutesListing, SortIsNumericAndIgnoresCase) {
    for (const char* name : {"file10.txt", "banana.txt", "file2.txt", "Apple.txt", "b/a.txt"}) touch(name);
    EXPECT_EQ(listedPaths(),
              (std::vector<std::string>{"Apple.txt", "b/a.txt", "banana.txt", "file2.txt", "file10.txt"}));
}

TEST_F(RoutesListing, ListStopsAt5000Files) {
    const struct { int files; size_t listed; bool truncated; } cases[] = {
        {4999, 4999, false}, {5000, 5000, true}, {6000, 5000, true}};
    int made = 0;
    for (const auto& c : cases) {
        for (; made < c.files; ++made) {
            const int fd = ::open((root / ("f" + std::to_string(made))).c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
        const nlohmann::json reply = callJSON("GET", "/api/files");
        EXPECT_EQ(reply["files"].size(), c.listed) << c.files << " files";
        EXPECT_EQ(reply["truncated"], c.truncated) << c.files << " files";
        EXPECT_EQ(call("GET", "/api/files").body, treeWriterBody()) << c.files << " files";
        const auto& files = reply["files"];
        for (size_t k = 1; k < files.size(); ++k) {
            ASSERT_TRUE(localizedStandardLess(files[k - 1]["p"].get<std::string>(), files[k]["p"].get<std::string>()))
                << files[k - 1]["p"] << " before " << files[k]["p"];
        }
    }
}

}  // namespace
}  // namespace corvane::test
