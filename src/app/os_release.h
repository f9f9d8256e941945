#pragma once
// The "os" text of a feedback report: "Linux " and the system's pretty name
// from os-release(5), else "Linux " and the kernel release.

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The value of PRETTY_NAME in an os-release text, unquoted and unescaped as the
// format allows; none when it is missing or empty.
std::optional<std::string> prettyName(std::string_view osRelease);

// "Linux " + the pretty name of the first text that has one (/etc/os-release,
// then /usr/lib/os-release), else "Linux " + the kernel release.
std::string osText(const std::optional<std::string>& etcOSRelease, const std::optional<std::string>& usrLibOSRelease,
                   const std::string& kernelRelease);

// osText over this machine's files and uname().
std::string systemOSText();

}  // namespace corvane
