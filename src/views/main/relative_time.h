#pragma once
// The age of a file as the file list shows it.

#include <string>

namespace corvane {

// ms and nowMs in milliseconds since 1970. "—" unless ms > 0 (also for NaN);
// under a minute ago or in the future "刚刚"; then whole minutes, hours or days
// ("5 分钟前", "3 小时前", "6 天前"); from seven days on the local date "yyyy-MM-dd".
std::string relativeTime(double ms, double nowMs);

}  // namespace corvane
