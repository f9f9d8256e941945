#pragma once
// The lines of a boot.log without their time of day ("HH:MM:SS  text").

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::test {

inline std::vector<std::string> bootLogLines(const std::filesystem::path& folder) {
    std::vector<std::string> lines;
    std::ifstream in(folder / "boot.log");
    std::string line;
    while (std::getline(in, line)) {
        const size_t gap = line.find("  ");
        lines.push_back(gap == std::string::npos ? line : line.substr(gap + 2));
    }
    return lines;
}

// Whether the log holds a line that begins with the prefix.
inline bool hasLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

}  // namespace corvane::test
