#include "views/main/relative_time.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace corvane {

namespace {

std::string whole(double value, const char* unit) { return std::to_string(int64_t(value)) + unit; }

std::string localDate(double ms) {
    const auto seconds = std::time_t(std::floor(ms / 1000.0));
    std::tm parts{};
    if (!localtime_r(&seconds, &parts)) return "—";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d", &parts) == 0) return "—";
    return text;
}

}  // namespace

std::string relativeTime(double ms, double nowMs) {
    if (!(ms > 0)) return "—";
    const double d = (ms - nowMs) / 1000.0;  // negative for the past
    if (!(d <= -60)) return "刚刚";          // also a future beyond any range
    if (d > -3600) return whole(-d / 60, " 分钟前");
    if (d > -86400) return whole(-d / 3600, " 小时前");
    if (d > -604800) return whole(-d / 86400, " 天前");
    return localDate(ms);
}

}  // namespace corvane
