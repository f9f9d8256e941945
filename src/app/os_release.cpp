#include "app/os_release.h"

#include <sys/utsname.h>

#include "base/whole_files.h"

namespace corvane {

namespace {

// One shell-style word: quotes removed, backslash escapes applied, ending at
// the first blank outside quotes.
std::string unquoted(std::string_view value) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else out += c;
        } else if (c == '\\' && i + 1 < value.size()) {
            const char next = value[i + 1];
            // Inside double quotes only these four are escapes; elsewhere any character is.
            const bool escapes = quote != '"' || next == '$' || next == '"' || next == '\\' || next == '`';
            if (!escapes) out += c;
            out += next;
            ++i;
        } else if (c == '"') {
            quote = quote ? 0 : '"';
        } else if (c == '\'' && !quote) {
            quote = '\'';
        } else if (!quote && (c == ' ' || c == '\t')) {
            break;
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view trimmedBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::optional<std::string> readText(const char* path) {
    FileRead read = readWholeFile(path);
    if (!read.readable) return std::nullopt;
    return std::move(read.bytes);
}

}  // namespace

std::optional<std::string> prettyName(std::string_view osRelease) {
    std::optional<std::string> found;
    while (!osRelease.empty()) {
        const size_t end = osRelease.find('\n');
        std::string_view line = trimmedBlanks(osRelease.substr(0, end));
        osRelease.remove_prefix(end == std::string_view::npos ? osRelease.size() : end + 1);
        constexpr std::string_view key = "PRETTY_NAME=";
        if (line.substr(0, key.size()) != key) continue;
        found = unquoted(line.substr(key.size()));  // the last assignment wins, as in a shell
    }
    if (!found || found->empty()) return std::nullopt;
    return found;
}

std::string osText(const std::optional<std::string>& etcOSRelease, const std::optional<std::string>& usrLibOSRelease,
                   const std::string& kernelRelease) {
    for (const auto* text : {&etcOSRelease, &usrLibOSRelease}) {
        if (!*text) continue;
        if (const auto name = prettyName(**text)) return "Linux " + *name;
    }
    return "Linux " + kernelRelease;
}

std::string systemOSText() {
    utsname names{};
    const std::string kernel = uname(&names) == 0 ? names.release : "";
    return osText(readText("/etc/os-release"), readText("/usr/lib/os-release"), kernel);
}

}  // namespace corvane
