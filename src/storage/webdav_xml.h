#pragma once
// The WebDAV share's texts: request paths resolved against the share root, hrefs,
// HTTP dates and the multistatus document of PROPFIND.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A request path under "/dav": the relative path as sent ("rel"), and its pieces with
// empty and "." pieces dropped and ".." resolved ("clean"); `escapes` when a ".."
// climbs above the share root.
struct DavPath {
    std::string rel;
    std::string clean;
    bool escapes = false;
};
DavPath resolveDavPath(std::string_view requestPath);

// "/dav/" and the relative path's non-empty segments, each percent-encoded but for
// ASCII letters, digits and -._~!$&'()*+,;=:@, and a final "/" for a folder.
std::string davHref(std::string_view rel, bool folder);

// The href of a folder's child: the folder's href (ending in "/") and the name encoded as
// davHref encodes a segment; the same text as davHref of the joined relative path.
std::string davChildHref(std::string_view folderHref, std::string_view name, bool folder);

// The RFC 1123 date of HTTP in GMT with English names: "Mon, 03 Mar 2025 06:05:09 GMT".
std::string httpDate(std::time_t at);

// One listed entry of a multistatus document.
struct DavEntry {
    std::string href;
    bool folder = false;
    int64_t size = 0;
    std::time_t modified = 0;
};
std::string multistatusDocument(const std::vector<DavEntry>& entries);

// The positions of the names in code-point order of their canonical (NFC) forms, equal
// forms in their given order: "B.txt" before "a.txt".
std::vector<size_t> codePointOrder(const std::vector<std::string_view>& names);

}  // namespace corvane
