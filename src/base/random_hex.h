#pragma once
// Random ids and tokens from the system's cryptographic source.

#include <string>

namespace corvane {

// n random bytes as 2n lower-case hex digits; the process stops if the source fails,
// as no id or secret may come from a weaker one.
std::string randomHex(int n);

}  // namespace corvane
