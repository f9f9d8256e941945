// Discovery datagrams from anyone on the network.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/discovery/discovery_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)corvane::readDatagram(std::string_view(reinterpret_cast<const char*>(data), size), "self", "10.0.0.2",
                                1700000000.0);
    return 0;
}
