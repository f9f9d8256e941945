#pragma once
// A parsed HTTP/1.1 request and the pure parser of its head.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "engine/server/held_body.h"

namespace corvane {

struct HTTPReq {
    std::string method;     // upper-cased
    std::string rawTarget;  // as sent
    std::string path;       // before the first "?", percent-decoded
    std::map<std::string, std::string> query;
    std::map<std::string, std::string> headers;  // lower-cased names, trimmed values
    HeldBody body;

    // Header or query value, the empty text when missing.
    std::string header(const std::string& name) const;
    std::string param(const std::string& name) const;
};

// Percent-decoding; none for a bad escape or bytes that are not UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

// Parses the head (request line and header lines, blank line included).
std::optional<HTTPReq> parseHead(std::string_view head);

}  // namespace corvane
