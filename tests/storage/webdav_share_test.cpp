// The WebDAV share on "/dav" against a real server with the storage rows.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "held_upload.h"
#include "storage/team_crypto.h"
#include "storage_server_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class WebDAVShare : public StorageServerTest {
protected:
    void SetUp() override {
        StorageServerTest::SetUp();
        controls->nasExt = true;
    }

    // The hrefs of a multistatus document, in order.
    static std::vector<std::string> hrefs(const std::string& doc) {
        std::vector<std::string> out;
        size_t at = 0;
        while ((at = doc.find("<D:href>", at)) != std::string::npos) {
            const size_t end = doc.find("</D:href>", at);
            out.push_back(doc.substr(at + 8, end - at - 8));
            at = end;
        }
        return out;
    }

    std::vector<std::string> propfind(const std::string& path, const std::string& depth = "1") {
        const RawReply reply = call("PROPFIND", path, "", {{"Depth", depth}});
        EXPECT_EQ(reply.status, 207) << path;
        EXPECT_EQ(reply.headers.at("content-type"), "application/xml; charset=utf-8");
        return hrefs(reply.body);
    }
};

TEST_F(WebDAVShare, PropfindListsTheTargetThenItsChildrenInCodePointOrder) {
    writeFile(root / "x" / "a b&c.txt", "12345");
    for (const char* name : {"B.txt", "a.txt", "file10", "file2", ".hidden"}) writeFile(root / name, "x");
    fs::create_directory(root / "_shared");
    fs::create_directory(root / "_team");
    fs::create_directory(root / "_users");
    const std::vector<std::string> all = {"/dav/", "/dav/.hidden", "/dav/B.txt", "/dav/_shared/",
                                          "/dav/a.txt", "/dav/file10", "/dav/file2", "/dav/x/"};
    EXPECT_EQ(propfind("/dav"), all);
    EXPECT_EQ(propfind("/dav/", "infinity"), all);
    EXPECT_EQ(propfind("/dav/", ""), all);
    EXPECT_EQ(propfind("/dav/", "0"), std::vector<std::string>{"/dav/"});
    EXPECT_EQ(propfind("/dav/x", "-1"), std::vector<std::string>{"/dav/x/"});
    EXPECT_EQ(propfind("/dav/x/a%20b%26c.txt"), std::vector<std::string>{"/dav/x/a%20b&amp;c.txt"});

    const std::string doc = call("PROPFIND", "/dav/x", "", {{"Depth", "1"}}).body;
    EXPECT_NE(doc.find("    <D:href>/dav/x/a%20b&amp;c.txt</D:href>\n    <D:propstat><D:prop>\n"
                       "      <D:resourcetype/>\n      <D:getcontentlength>5</D:getcontentlength>\n"),
              std::string::npos)
        << doc;
    EXPECT_EQ(call("PROPFIND", "/dav/missing").status, 404);
}

// Sets an entry's own modification time (a link's, not its target's).
void setModified(const fs::path& entry, std::time_t at) {
    const struct timespec times[2] = {{at, 0}, {at, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << entry;
}

// One response element as the share has always written it; size < 0 for a folder.
std::string responseElement(const std::string& href, int64_t size, const std::string& date) {
    std::string out = "  <D:response>\n    <D:href>" + href + "</D:href>\n    <D:propstat><D:prop>\n";
    out += size < 0 ? "      <D:resourcetype><D:collection/></D:resourcetype>\n"
                    : "      <D:resourcetype/>\n      <D:getcontentlength>" + std::to_string(size) +
                          "</D:getcontentlength>\n";
    out += "      <D:getlastmodified>" + date + "</D:getlastmodified>\n";
    return out + "    </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>\n  </D:response>\n";
}

TEST_F(WebDAVShare, PropfindRepliesKeepTheirBytesForNamesOfEveryKindAndLinks) {
    const fs::path album = root / "相册 a&b";
    const struct {
        const char* name;
        const char* link;  // the link's text, or none for a file ("/" ending: a folder)
        std::time_t modified;
    } entries[] = {
        {"照片 1.jpg", nullptr, 1700000001},  {"a b&c.txt", nullptr, 1700000002},
        {".hidden", nullptr, 1700000003},     {"..dots", nullptr, 1700000004},
        {".config/", nullptr, 1700000005},    {"子目录/", nullptr, 1700000006},
        {"Zeta", nullptr, 1700000007},        {"e\xcc\x81t\xc3\xa9.txt", nullptr, 1700000008},
        {"f.txt", nullptr, 1700000009},       {"\xff.bin", nullptr, 1700000010},
        {"to file", "a b&c.txt", 1700000011}, {"to folder", "子目录", 1700000012},
        {"out", "../../outside", 1700000013}, {"up", "..", 1700000014},
        {"dangling", "nowhere", 1700000015},
    };
    writeFile(sandbox / "outside" / "secret.txt", "s");
    fs::create_directories(album);
    for (const auto& e : entries) {
        std::string name = e.name;
        if (e.link) {
            fs::create_symlink(e.link, album / name);
        } else if (name.ends_with("/")) {
            name.pop_back();
            fs::create_directory(album / name);
        } else {
            writeFile(album / name, name + " bytes");
        }
        setModified(album / name, e.modified);
    }
    for (const char* name : {"_team", "_users", "_shared"}) fs::create_directory(root / name);
    setModified(album, 1600000000);
    setModified(root / "_shared", 1600000001);
    setModified(root, 1600000002);

    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
    const std::string albumHref = "/dav/%E7%9B%B8%E5%86%8C%20a&amp;b/";
    const std::string top = head + responseElement("/dav/", -1, "Sun, 13 Sep 2020 12:26:42 GMT") +
                            responseElement("/dav/_shared/", -1, "Sun, 13 Sep 2020 12:26:41 GMT") +
                            responseElement(albumHref, -1, "Sun, 13 Sep 2020 12:26:40 GMT") + "</D:multistatus>\n";
    EXPECT_EQ(call("PROPFIND", "/dav/", "", {{"Depth", "1"}}).body, top);
    const std::string listed = head + responseElement(albumHref, -1, "Sun, 13 Sep 2020 12:26:40 GMT") +
                               responseElement(albumHref + "..dots", 12, "Tue, 14 Nov 2023 22:13:24 GMT") +
                               responseElement(albumHref + ".config/", -1, "Tue, 14 Nov 2023 22:13:25 GMT") +
                               responseElement(albumHref + ".hidden", 13, "Tue, 14 Nov 2023 22:13:23 GMT") +
                               responseElement(albumHref + "Zeta", 10, "Tue, 14 Nov 2023 22:13:27 GMT") +
                               responseElement(albumHref + "a%20b&amp;c.txt", 15, "Tue, 14 Nov 2023 22:13:22 GMT") +
                               responseElement(albumHref + "dangling", 7, "Tue, 14 Nov 2023 22:13:35 GMT") +
                               responseElement(albumHref + "f.txt", 11, "Tue, 14 Nov 2023 22:13:29 GMT") +
                               responseElement(albumHref + "to%20file", 9, "Tue, 14 Nov 2023 22:13:31 GMT") +
                               responseElement(albumHref + "to%20folder/", -1, "Tue, 14 Nov 2023 22:13:32 GMT") +
                               responseElement(albumHref + "e%CC%81t%C3%A9.txt", 16, "Tue, 14 Nov 2023 22:13:28 GMT") +
                               responseElement(albumHref + "%E5%AD%90%E7%9B%AE%E5%BD%95/", -1,
                                               "Tue, 14 Nov 2023 22:13:26 GMT") +
                               responseElement(albumHref + "%E7%85%A7%E7%89%87%201.jpg", 18,
                                               "Tue, 14 Nov 2023 22:13:21 GMT") +
                               "</D:multistatus>\n";
    EXPECT_EQ(call("PROPFIND", "/dav/%E7%9B%B8%E5%86%8C%20a%26b", "", {{"Depth", "1"}}).body, listed);
    EXPECT_EQ(call("PROPFIND", "/dav/%E7%9B%B8%E5%86%8C%20a%26b/to%20folder", "", {{"Depth", "0"}}).body,
              head + responseElement(albumHref + "to%20folder/", -1, "Tue, 14 Nov 2023 22:13:32 GMT") +
                  "</D:multistatus>\n");
}

TEST_F(WebDAVShare, GetAndHeadOnFoldersFilesAndMissingEntries) {
    writeFile(root / "d" / "f.txt", "hello");
    const RawReply folder = call("GET", "/dav/d");
    EXPECT_EQ(folder.status, 207);
    EXPECT_EQ(hrefs(folder.body), (std::vector<std::string>{"/dav/d/", "/dav/d/f.txt"}));
    const RawReply head = call("HEAD", "/dav/d");
    EXPECT_EQ(head.status, 207);
    EXPECT_EQ(head.headers.at("content-length"), std::to_string(folder.body.size()));
    EXPECT_EQ(head.body, "");

    const RawReply file = call("GET", "/dav/d/f.txt");
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, "hello");
    EXPECT_EQ(file.headers.at("content-security-policy"), "sandbox");
    EXPECT_EQ(file.headers.at("x-content-type-options"), "nosniff");
    EXPECT_EQ(call("GET", "/dav/d/../d/f.txt", "", {{"Range", "bytes=1-2"}}).body, "el");

    RawClient client(server->port());
    ASSERT_TRUE(client.send("HEAD /dav/missing HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nHEAD /dav/d/f.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto missing = client.readReply(true);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->headers.at("content-length"), "9");
    const auto fileHead = client.readReply(true);  // no stray body in between
    ASSERT_TRUE(fileHead);
    EXPECT_EQ(fileHead->status, 200);
    EXPECT_EQ(fileHead->headers.at("content-length"), "5");

    writeFile(root / ".hidden", "h");
    EXPECT_EQ(call("GET", "/dav/.hidden").body, errorBody("bad path"));  // the download routine's own refusal
}

TEST_F(WebDAVShare, TraversalIsForbiddenAndDotsResolveInside) {
    for (const char* path : {"/dav/../x", "/dav/%2e%2e/x", "/dav/a/../../x"}) {
        for (const char* method : {"GET", "PROPFIND", "PUT", "MKCOL", "DELETE"}) {
            const RawReply reply = call(method, path);
            EXPECT_EQ(reply.status, 403) << method << " " << path;
            EXPECT_EQ(reply.body, "forbidden") << method << " " << path;
        }
    }
    EXPECT_EQ(call("MKCOL", "/dav/a/../b").status, 201);
    EXPECT_TRUE(fs::is_directory(root / "b"));
    EXPECT_EQ(call("PUT", "/dav/a/../b/c.txt", "c").status, 201);
    EXPECT_EQ(readFile(root / "b" / "c.txt"), "c");
    EXPECT_FALSE(fs::exists(root / "a"));
    EXPECT_EQ(call("DELETE", "/dav/a/../b").status, 204);
    EXPECT_FALSE(fs::exists(root / "b"));
}

TEST_F(WebDAVShare, MkcolPutAndDeleteAnswerAsTheyShould) {
    writeFile(root / "f.txt", "f");
    const struct {
        const char* method;
        const char* path;
        std::string body;
        int status;
        std::string text;
    } cases[] = {
        {"MKCOL", "/dav/new", "", 201, ""},
        {"MKCOL", "/dav/new", "", 405, "collection already exists"},
        {"MKCOL", "/dav/f.txt", "", 405, "collection already exists"},
        {"MKCOL", "/dav/a/b", "", 500, "No such file or directory"},
        {"MKCOL", "/dav/withbody", "<x/>", 415, "unsupported media type"},
        {"PUT", "/dav/p/q/r.txt", "deep", 201, ""},
        {"PUT", "/dav/p/q/r.txt", "again", 201, ""},
        {"PUT", "/dav/new", "onto a folder", 500, "Is a directory"},
        {"PUT", "/dav", "onto the root", 500, "Is a directory"},
        {"DELETE", "/dav/p", "", 204, ""},
        {"DELETE", "/dav/p", "", 404, "not found"},
        {"DELETE", "/dav", "", 403, "forbidden"},
        {"DELETE", "/dav/", "", 403, "forbidden"},
        {"DELETE", "/dav/new/..", "", 403, "forbidden"},
        {"LOCK", "/dav/f.txt", "", 501, "not implemented"},
        {"PROPPATCH", "/dav/f.txt", "", 501, "not implemented"},
        {"COPY", "/dav/f.txt", "", 501, "not implemented"},
        {"MOVE", "/dav/f.txt", "", 501, "not implemented"},
    };
    for (const auto& c : cases) {
        const RawReply reply = call(c.method, c.path, c.body);
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(reply.body, c.text) << c.method << " " << c.path;
        EXPECT_EQ(reply.headers.count("content-type"), 0u) << c.method << " " << c.path;
    }
    EXPECT_FALSE(fs::exists(root / "withbody"));
    EXPECT_TRUE(fs::exists(root / "f.txt"));
    EXPECT_TRUE(fs::is_directory(root / "new"));
    const auto seen = events();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, ServerEvent::Kind::fileReceived);
    EXPECT_EQ(seen[0].file.path, "p/q/r.txt");
    EXPECT_EQ(seen[0].file.name, "r.txt");
    EXPECT_EQ(seen[1].file.size, 5);
    EXPECT_EQ(seen[2], ServerEvent::log("WebDAV 删除：p"));
}

TEST_F(WebDAVShare, PrivateFoldersAndLinksLeadingOutAreNotFoundForEveryMethod) {
    writeFile(root / "_team" / "accounts.json", "{}");
    writeFile(root / "_users" / "bob" / "a.txt", "a");
    writeFile(sandbox / "outside.txt", "o");
    fs::create_directory_symlink(sandbox.path(), root / "out");
    fs::create_symlink(sandbox / "outside.txt", root / "out.txt");
    fs::create_directory_symlink(root, root / "loop");
    HeldUpload held(server->port(), root);
    for (const char* path : {"/dav/_team", "/dav/_team/accounts.json", "/dav/x/../_users/bob", "/dav//_team/",
                             "/dav/out", "/dav/out/outside.txt", "/dav/out.txt", "/dav/loop", "/dav/loop/",
                             "/dav/.parts", "/dav/.PARTS/", "/dav/x/../.Parts/0123456789abcdef",
                             "/dav/.parts/0123456789abcdef/meta.json", "/dav/.parts/0123456789abcdef/owner",
                             "/dav/%2Eparts/0123456789abcdef/000000000000.part", "/dav/.pARTS/x.sh"}) {
        for (const char* method : {"GET", "HEAD", "PROPFIND", "PUT", "MKCOL", "DELETE", "OPTIONS"}) {
            const RawReply reply = call(method, path, std::string(method) == "PUT" ? "x" : "");
            EXPECT_EQ(reply.status, 404) << method << " " << path;
        }
    }
    EXPECT_EQ(readFile(root / "_team" / "accounts.json"), "{}");
    EXPECT_EQ(readFile(sandbox / "outside.txt"), "o");
    EXPECT_TRUE(fs::exists(root / "_users" / "bob" / "a.txt"));
    EXPECT_TRUE(fs::is_symlink(root / "loop"));
    EXPECT_EQ(propfind("/dav/"), std::vector<std::string>{"/dav/"});
    held.expectUntouchedAndFinishing();
    fs::create_directory(root / "x");
    fs::create_directory(root / "x" / "_team");
    EXPECT_EQ(call("MKCOL", "/dav/x/_team/y").status, 201);  // only the top level is private
    EXPECT_EQ(call("MKCOL", "/dav/x/.parts").status, 201);
    EXPECT_EQ(call("PUT", "/dav/.parts-notes", "n").status, 201);  // other dot names stay reachable
}

TEST_F(WebDAVShare, BasicCredentialsCarryThePinWhileOneIsSet) {
    writeFile(root / "f.txt", "f");
    EXPECT_EQ(call("GET", "/dav/f.txt").status, 200);  // no PIN: open
    server->setPin("13:57");
    const RawReply refused = call("GET", "/dav/f.txt");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.body, "需要访问口令");
    EXPECT_EQ(refused.headers.at("www-authenticate"), "Basic realm=\"corvane-nas\", charset=\"UTF-8\"");
    const struct {
        std::string authorization;
        int status;
    } cases[] = {
        {"Basic " + base64Encode("anyone:13:57"), 200},
        {"basic \t" + base64Encode(":13:57") + " ", 200},
        {"Basic " + base64Encode("anyone:13:5"), 401},
        {"Basic " + base64Encode("13:57"), 401},       // the part before the first ":" is the user
        {"Basic " + base64Encode("anyone:13:57") + "=", 401},
        {"Basic " + base64Encode("anyone:13:57").substr(1), 401},
        {"Basic !!!", 401},
        {"Bearer " + base64Encode("anyone:13:57"), 401},
        {"Basic " + base64Encode("anyone:\xff"), 401},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(call("GET", "/dav/f.txt", "", {{"Authorization", c.authorization}}).status, c.status) << c.authorization;
    }
    // The query or header PIN of the other routes is no credential here, nor needed.
    EXPECT_EQ(call("GET", "/dav/f.txt?pin=13:57").status, 401);
    EXPECT_EQ(call("PUT", "/dav/g.txt", "g").status, 401);
    EXPECT_FALSE(fs::exists(root / "g.txt"));
    EXPECT_EQ(call("PUT", "/dav/g.txt", "g", {{"Authorization", "Basic " + base64Encode("u:13:57")}}).status, 201);
}

TEST_F(WebDAVShare, OptionsIsAnsweredByTheShareAndOtherOriginsAreRefused) {
    const RawReply options = call("OPTIONS", "/dav/", "", {{"Origin", "http://evil.example"}});
    EXPECT_EQ(options.status, 204);
    EXPECT_EQ(options.headers.at("allow"), "OPTIONS, GET, HEAD, PUT, PROPFIND, MKCOL, DELETE");
    EXPECT_EQ(options.headers.at("dav"), "1");
    EXPECT_EQ(options.headers.at("ms-author-via"), "DAV");
    for (const char* method : {"PROPFIND", "PUT"}) {
        const RawReply foreign = call(method, "/dav/x.txt", "x", {{"Origin", "http://evil.example"}});
        EXPECT_EQ(foreign.status, 403) << method;
        EXPECT_EQ(foreign.body, errorBody("跨设备访问需要令牌")) << method;
    }
    EXPECT_FALSE(fs::exists(root / "x.txt"));
    const std::string sameOrigin = "http://127.0.0.1:" + std::to_string(server->port());
    EXPECT_EQ(call("PUT", "/dav/x.txt", "x", {{"Origin", sameOrigin}}).status, 201);
}

TEST_F(WebDAVShare, WithTeamModeOffEveryMethodGetsTheHint) {
    controls->nasExt = false;
    for (const char* method : {"OPTIONS", "PROPFIND", "GET", "PUT", "MKCOL", "DELETE"}) {
        const RawReply reply = call(method, "/dav/x", std::string(method) == "PUT" ? "body" : "");
        EXPECT_EQ(reply.status, 404) << method;
        EXPECT_EQ(parse(reply)["error"], "拓展功能未开启") << method;
    }
    EXPECT_FALSE(fs::exists(root / "x"));
}

TEST_F(WebDAVShare, PutStreamsAnyBodyAndAPutCutShortLeavesTheOldFileWhole) {
    writeFile(root / "f.bin", "old contents");
    const std::string body(5 * 1048576 + 3, 'n');
    RawClient client(server->port());
    ASSERT_TRUE(client.send("PUT /dav/f.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n"));
    EXPECT_EQ(client.readReply().value_or(RawReply{}).status, 100);
    ASSERT_TRUE(client.send(body));
    EXPECT_EQ(client.readReply().value_or(RawReply{}).status, 201);
    EXPECT_EQ(readFile(root / "f.bin"), body);

    RawClient cut(server->port());
    ASSERT_TRUE(cut.send("PUT /dav/f.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\nshort"));
    ::shutdown(cut.fd(), SHUT_WR);
    EXPECT_EQ(cut.readUntilClosed(), "");
    EXPECT_EQ(readFile(root / "f.bin"), body);
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{".parts", "f.bin"}));  // no temporary file left
}

}  // namespace
}  // namespace corvane::test
