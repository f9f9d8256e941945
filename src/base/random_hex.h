#pragma once
// Random ids and tokens from the system's cryptographic source.

#include <string>

namespace corvane {

// n random bytes as 2n lower-case hex digits; the process stops if the source fails,
// as no id or secret may come from a weaker one.
std::string randomHex(int n);

// The same for names that must not collide but need not be secret (scratch files made
// with an exclusive create or link, which refuses a taken name): from a generator of the
// thread's own, seeded once from the system's source, so a name costs no system call.
std::string scratchHex(int n);

}  // namespace corvane
