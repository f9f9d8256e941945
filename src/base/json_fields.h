#pragma once
// Lenient readers for received JSON objects: numbers or numeric texts are accepted,
// anything else falls back to empty, 0 or false. None of them throws.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// An optional "+" or "-" and one or more ASCII digits, nothing else, fitting 64 bits.
std::optional<int64_t> parseIntText(std::string_view text);

// The whole text read as a C-locale floating-point literal (strtod syntax);
// a leading blank or anything left over is refused.
std::optional<double> parseDoubleText(std::string_view text);

class Fields {
public:
    explicit Fields(const nlohmann::json& obj) : obj_(obj) {}

    std::optional<std::string> s(std::string_view key) const;
    int64_t i64(std::string_view key) const;
    int64_t i(std::string_view key) const;
    double d(std::string_view key) const;
    bool b(std::string_view key) const;

private:
    const nlohmann::json* find(std::string_view key) const;
    const nlohmann::json& obj_;
};

}  // namespace corvane
