#include "storage/webdav_xml.h"

#include <algorithm>
#include <memory>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "base/text_util.h"

namespace corvane {

namespace {

bool keptInHref(unsigned char c) {
    return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@").find(char(c)) != std::string_view::npos;
}

std::string xmlText(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else {
            out += c;
        }
    }
    return out;
}

std::string nfc(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return name;
    const icu::UnicodeString normal = normalizer->normalize(icu::UnicodeString::fromUTF8(name), status);
    if (U_FAILURE(status)) return name;
    std::string out;
    normal.toUTF8String(out);
    return out;
}

void appendEntry(std::string& doc, const DavEntry& entry) {
    doc += "  <D:response>\n";
    doc += "    <D:href>" + xmlText(entry.href) + "</D:href>\n";
    doc += "    <D:propstat><D:prop>\n";
    if (entry.folder) {
        doc += "      <D:resourcetype><D:collection/></D:resourcetype>\n";
    } else {
        doc += "      <D:resourcetype/>\n";
        doc += "      <D:getcontentlength>" + std::to_string(entry.size) + "</D:getcontentlength>\n";
    }
    doc += "      <D:getlastmodified>" + httpDate(entry.modified) + "</D:getlastmodified>\n";
    doc += "    </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>\n";
    doc += "  </D:response>\n";
}

}  // namespace

DavPath resolveDavPath(std::string_view requestPath) {
    DavPath out;
    out.rel = requestPath.size() > 5 ? std::string(requestPath.substr(5)) : "";
    std::vector<std::string_view> pieces;
    for (const std::string_view piece : splitDroppingEmpty(out.rel, "/")) {
        if (piece == ".") continue;
        if (piece != "..") {
            pieces.push_back(piece);
        } else if (pieces.empty()) {
            out.escapes = true;
        } else {
            pieces.pop_back();
        }
    }
    for (const std::string_view piece : pieces) {
        if (!out.clean.empty()) out.clean += '/';
        out.clean += piece;
    }
    return out;
}

std::string davHref(std::string_view rel, bool folder) {
    std::string href = "/dav/";
    bool first = true;
    for (const std::string_view segment : splitDroppingEmpty(rel, "/")) {
        if (!first) href += '/';
        href += percentEncodeExcept(segment, keptInHref);
        first = false;
    }
    if (folder && !first) href += '/';
    return href;
}

std::string httpDate(std::time_t at) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    gmtime_r(&at, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday,
                  months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string multistatusDocument(const std::vector<DavEntry>& entries) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
    for (const DavEntry& entry : entries) appendEntry(doc, entry);
    doc += "</D:multistatus>\n";
    return doc;
}

void sortByCodePoints(std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) keyed.emplace_back(nfc(name), std::move(name));
    // UTF-8 bytes compare in code-point order.
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    names.clear();
    for (auto& [key, name] : keyed) names.push_back(std::move(name));
}

}  // namespace corvane
