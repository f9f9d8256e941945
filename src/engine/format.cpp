#include "engine/format.h"

#include <array>
#include <charconv>
#include <cmath>

namespace corvane {

std::string fixedDecimal(double value, int decimals) {
    std::array<char, 400> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";
    return std::string(buf.data(), end);
}

std::string humanSize(int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static const std::array<const char*, 4> units{"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    const int decimals = value >= 100 ? 0 : (value >= 10 ? 1 : 2);
    return fixedDecimal(value, decimals) + " " + units[unit];
}

std::string humanSpeed(double bytesPerSecond) {
    if (!(bytesPerSecond >= 1)) return "—";
    if (!std::isfinite(bytesPerSecond) || bytesPerSecond >= 9.2e18) return "—";
    return humanSize(int64_t(bytesPerSecond)) + "/s";
}

}  // namespace corvane
