#pragma once
// Byte counts and byte rates as short display texts; never locale-dependent.

#include <cstdint>
#include <string>

namespace corvane {

std::string humanSize(int64_t bytes);
std::string humanSpeed(double bytesPerSecond);

// A value printed with a fixed number of decimals and "." as the decimal mark.
std::string fixedDecimal(double value, int decimals);

}  // namespace corvane
