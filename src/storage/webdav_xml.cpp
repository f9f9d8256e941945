#include "storage/webdav_xml.h"

#include <algorithm>
#include <charconv>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

#include "base/text_util.h"

namespace corvane {

namespace {

bool keptInHref(unsigned char c) {
    return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@").find(char(c)) != std::string_view::npos;
}

// The text with each ampersand written as the XML entity, appended.
void appendXMLText(std::string& doc, std::string_view text) {
    size_t start = 0;
    for (size_t amp; (amp = text.find('&', start)) != std::string_view::npos; start = amp + 1) {
        doc.append(text.substr(start, amp - start));
        doc += "&amp;";
    }
    doc.append(text.substr(start));
}

// The canonical (NFC) form; text that is ASCII or already canonical is its own form.
std::string nfc(std::string_view name) {
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < 0x80; });
    if (ascii) return std::string(name);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(name);
    const icu::StringPiece piece(name.data(), int32_t(name.size()));
    if (normalizer->isNormalizedUTF8(piece, status) && U_SUCCESS(status)) return std::string(name);
    status = U_ZERO_ERROR;
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    normalizer->normalizeUTF8(0, piece, sink, nullptr, status);
    return U_FAILURE(status) ? std::string(name) : out;
}

// The number in decimal, zeros put before it up to `width` digits (as printf's %0Nd).
void appendPadded(std::string& doc, int value, int width) {
    char text[16];
    const size_t length = size_t(std::to_chars(text, text + sizeof text, value).ptr - text);
    doc.append(size_t(std::max(0, width - int(length))), '0');
    doc.append(text, length);
}

void appendHttpDate(std::string& doc, std::time_t at) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    gmtime_r(&at, &t);
    doc += days[t.tm_wday];
    doc += ", ";
    appendPadded(doc, t.tm_mday, 2);
    doc += ' ';
    doc += months[t.tm_mon];
    doc += ' ';
    appendPadded(doc, t.tm_year + 1900, 4);
    doc += ' ';
    appendPadded(doc, t.tm_hour, 2);
    doc += ':';
    appendPadded(doc, t.tm_min, 2);
    doc += ':';
    appendPadded(doc, t.tm_sec, 2);
    doc += " GMT";
}

void appendEntry(std::string& doc, const DavEntry& entry) {
    doc += "  <D:response>\n    <D:href>";
    appendXMLText(doc, entry.href);
    doc += "</D:href>\n    <D:propstat><D:prop>\n";
    if (entry.folder) {
        doc += "      <D:resourcetype><D:collection/></D:resourcetype>\n";
    } else {
        doc += "      <D:resourcetype/>\n      <D:getcontentlength>";
        doc += std::to_string(entry.size);
        doc += "</D:getcontentlength>\n";
    }
    doc += "      <D:getlastmodified>";
    appendHttpDate(doc, entry.modified);
    doc += "</D:getlastmodified>\n    </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>\n  </D:response>\n";
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

std::string davChildHref(std::string_view folderHref, std::string_view name, bool folder) {
    std::string href(folderHref);
    href += percentEncodeExcept(name, keptInHref);
    if (folder) href += '/';
    return href;
}

std::string httpDate(std::time_t at) {
    std::string text;
    appendHttpDate(text, at);
    return text;
}

std::string multistatusDocument(const std::vector<DavEntry>& entries) {
    // Built in one string: the fixed lines of an entry, its href and a little room for
    // the few ampersands that grow.
    constexpr size_t kFixedPerEntry = 300;
    size_t room = 100;
    for (const DavEntry& entry : entries) room += kFixedPerEntry + entry.href.size();
    std::string doc;
    doc.reserve(room);
    doc += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
    for (const DavEntry& entry : entries) appendEntry(doc, entry);
    doc += "</D:multistatus>\n";
    return doc;
}

std::vector<size_t> codePointOrder(const std::vector<std::string_view>& names) {
    std::vector<std::pair<std::string, size_t>> keyed;
    keyed.reserve(names.size());
    for (size_t k = 0; k < names.size(); ++k) keyed.emplace_back(nfc(names[k]), k);
    // UTF-8 bytes compare in code-point order; equal forms keep their order by position.
    std::sort(keyed.begin(), keyed.end());
    std::vector<size_t> order;
    order.reserve(keyed.size());
    for (const auto& [key, position] : keyed) order.push_back(position);
    return order;
}

}  // namespace corvane
