// The origin and Host checks on any pair of header values (split at the first NUL).
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/server/http_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t cut = text.find('\0');
    const std::string origin = text.substr(0, cut);
    const std::string host = cut == std::string::npos ? "" : text.substr(cut + 1);
    (void)corvane::HTTPServer::hostMatches(origin, host);
    (void)corvane::HTTPServer::hostAllowed(host);
    return 0;
}
