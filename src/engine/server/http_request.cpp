#include "engine/server/http_request.h"

#include <algorithm>
#include <vector>

#include "base/text_util.h"
#include "base/unicode_text.h"

namespace corvane {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view trimSpacesTabs(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitLines(std::string_view s) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        const size_t at = s.find("\r\n", start);
        if (at == std::string_view::npos) {
            out.push_back(s.substr(start));
            break;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 2;
    }
    return out;
}

void parseQuery(std::string_view query, std::map<std::string, std::string>& out) {
    for (std::string_view piece : splitDroppingEmpty(query, "&")) {
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos) {
            out[std::string(piece)] = "";
            continue;
        }
        const std::string_view rawName = piece.substr(0, eq);
        const std::string_view rawValue = piece.substr(eq + 1);
        const std::string name = percentDecode(rawName).value_or(std::string(rawName));
        std::string plusAsSpace(rawValue);
        std::replace(plusAsSpace.begin(), plusAsSpace.end(), '+', ' ');
        out[name] = percentDecode(plusAsSpace).value_or(std::string(rawValue));
    }
}

}  // namespace

std::string HTTPReq::header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
}

std::string HTTPReq::param(const std::string& name) const {
    const auto it = query.find(name);
    return it == query.end() ? "" : it->second;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] != '%') {
            out += text[k];
            continue;
        }
        if (k + 2 >= text.size()) return std::nullopt;
        const int hi = hexValue(text[k + 1]);
        const int lo = hexValue(text[k + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += char(hi * 16 + lo);
        k += 2;
    }
    if (!isValidUTF8(out)) return std::nullopt;
    return out;
}

std::optional<HTTPReq> parseHead(std::string_view head) {
    if (!isValidUTF8(head)) return std::nullopt;
    const std::vector<std::string_view> lines = splitLines(head);
    if (lines.empty()) return std::nullopt;
    const std::vector<std::string_view> words = splitDroppingEmpty(lines[0], " ");
    if (words.size() < 2) return std::nullopt;

    HTTPReq req;
    req.method = upperASCII(words[0]);
    req.rawTarget = std::string(words[1]);
    const size_t question = req.rawTarget.find('?');
    const std::string pathPart = question == std::string::npos ? req.rawTarget : req.rawTarget.substr(0, question);
    req.path = percentDecode(pathPart).value_or(pathPart);
    if (question != std::string::npos) parseQuery(std::string_view(req.rawTarget).substr(question + 1), req.query);

    for (size_t k = 1; k < lines.size(); ++k) {
        const size_t colon = lines[k].find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name = lowerASCII(trimSpacesTabs(lines[k].substr(0, colon)));
        if (name.empty()) continue;
        req.headers[name] = std::string(trimSpacesTabs(lines[k].substr(colon + 1)));
    }
    return req;
}

}  // namespace corvane
