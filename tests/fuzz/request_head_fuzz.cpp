// The request-head parser on any bytes: it must accept or refuse, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/server/http_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto req = corvane::parseHead(std::string_view(reinterpret_cast<const char*>(data), size));
    if (req) (void)req->param("x");
    return 0;
}
