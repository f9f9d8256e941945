// The WebDAV share's texts: resolved paths, hrefs, dates, the multistatus document.

#include <gtest/gtest.h>

#include "storage/webdav_xml.h"

namespace corvane::test {
namespace {

TEST(WebDAVTexts, RequestPathsResolveDotsAndDropEmptyPieces) {
    const struct {
        std::string path;
        std::string rel;
        std::string clean;
        bool escapes;
    } cases[] = {
        {"/dav", "", "", false},
        {"/dav/", "", "", false},
        {"/dav/a/b/", "a/b/", "a/b", false},
        {"/dav/a/../b", "a/../b", "b", false},
        {"/dav/./a//./b", "./a//./b", "a/b", false},
        {"/dav/a/..", "a/..", "", false},
        {"/dav/../x", "../x", "x", true},
        {"/dav/a/../../x", "a/../../x", "x", true},
        {"/dav/_team/..", "_team/..", "", false},
    };
    for (const auto& c : cases) {
        const DavPath path = resolveDavPath(c.path);
        EXPECT_EQ(path.rel, c.rel) << c.path;
        EXPECT_EQ(path.clean, c.clean) << c.path;
        EXPECT_EQ(path.escapes, c.escapes) << c.path;
    }
}

TEST(WebDAVTexts, HrefsEncodeEveryByteButLettersDigitsAndPathPunctuation) {
    EXPECT_EQ(davHref("", true), "/dav/");
    EXPECT_EQ(davHref("x/a b&c.txt", false), "/dav/x/a%20b&c.txt");
    EXPECT_EQ(davHref("x//y/", true), "/dav/x/y/");
    EXPECT_EQ(davHref("-._~!$&'()*+,;=:@", false), "/dav/-._~!$&'()*+,;=:@");
    EXPECT_EQ(davHref("?#%\"<>[]", false), "/dav/%3F%23%25%22%3C%3E%5B%5D");
    EXPECT_EQ(davHref("\xE4\xB8\xAD\xE6\x96\x87", true), "/dav/%E4%B8%AD%E6%96%87/");
}

TEST(WebDAVTexts, DatesAreRFC1123InGMTWithEnglishNames) {
    EXPECT_EQ(httpDate(1740981909), "Mon, 03 Mar 2025 06:05:09 GMT");
    EXPECT_EQ(httpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(httpDate(-62135596800), "Mon, 01 Jan 0001 00:00:00 GMT");  // every field padded
}

TEST(WebDAVTexts, TheMultistatusDocumentLineByLine) {
    const std::vector<DavEntry> entries = {
        {"/dav/x/", true, 0, 0},
        {"/dav/x/a%20b&c.txt", false, 42, 1740981909},
    };
    EXPECT_EQ(multistatusDocument(entries),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<D:multistatus xmlns:D=\"DAV:\">\n"
              "  <D:response>\n"
              "    <D:href>/dav/x/</D:href>\n"
              "    <D:propstat><D:prop>\n"
              "      <D:resourcetype><D:collection/></D:resourcetype>\n"
              "      <D:getlastmodified>Thu, 01 Jan 1970 00:00:00 GMT</D:getlastmodified>\n"
              "    </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>\n"
              "  </D:response>\n"
              "  <D:response>\n"
              "    <D:href>/dav/x/a%20b&amp;c.txt</D:href>\n"
              "    <D:propstat><D:prop>\n"
              "      <D:resourcetype/>\n"
              "      <D:getcontentlength>42</D:getcontentlength>\n"
              "      <D:getlastmodified>Mon, 03 Mar 2025 06:05:09 GMT</D:getlastmodified>\n"
              "    </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>\n"
              "  </D:response>\n"
              "</D:multistatus>\n");
}

TEST(WebDAVTexts, NamesSortByCodePointsOfTheirCanonicalForms) {
    const std::string composed = "\xC3\xA9";     // é
    const std::string decomposed = "e\xCC\x81";  // e and a combining accent
    const std::vector<std::string> names = {"a.txt", "file2", "B.txt", decomposed + "z", "file10", composed + "a", "f"};
    std::vector<std::string> sorted;
    for (const size_t k : codePointOrder(std::vector<std::string_view>(names.begin(), names.end()))) {
        sorted.push_back(names[k]);
    }
    EXPECT_EQ(sorted, (std::vector<std::string>{"B.txt", "a.txt", "f", "file10", "file2", composed + "a", decomposed + "z"}));
}

}  // namespace
}  // namespace corvane::test
