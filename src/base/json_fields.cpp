#include "base/json_fields.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace corvane {

std::optional<int64_t> parseIntText(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Parse with the sign attached so that INT64_MIN fits.
    std::string signedText = (negative ? "-" : "") + std::string(digits);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
    if (ec != std::errc() || end != signedText.data() + signedText.size()) return std::nullopt;
    return value;
}

static locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

std::optional<double> parseDoubleText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char first = text[0];
    if (first == ' ' || first == '\t' || first == '\n' || first == '\v' || first == '\f' || first == '\r') {
        return std::nullopt;
    }
    const std::string owned(text);
    char* end = nullptr;
    const double value = strtod_l(owned.c_str(), &end, cLocale());
    if (end == owned.c_str() || end != owned.c_str() + owned.size()) return std::nullopt;
    return value;
}

// A number's integer value with the fraction dropped, saturated at the 64-bit limits.
static int64_t truncatedInteger(const nlohmann::json& v) {
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        return u > uint64_t(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                 : int64_t(u);
    }
    const double d = v.get<double>();
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return int64_t(d);
}

const nlohmann::json* Fields::find(std::string_view key) const {
    if (!obj_.is_object()) return nullptr;
    auto it = obj_.find(std::string(key));
    return it == obj_.end() ? nullptr : &*it;
}

std::optional<std::string> Fields::s(std::string_view key) const {
    const auto* v = find(key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

int64_t Fields::i64(std::string_view key) const {
    const auto* v = find(key);
    if (!v) return 0;
    if (v->is_number() || v->is_boolean()) return truncatedInteger(*v);
    if (v->is_string()) return parseIntText(v->get_ref<const std::string&>()).value_or(0);
    return 0;
}

int64_t Fields::i(std::string_view key) const { return i64(key); }

double Fields::d(std::string_view key) const {
    const auto* v = find(key);
    if (!v) return 0;
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    if (v->is_number()) return v->get<double>();
    if (v->is_string()) return parseDoubleText(v->get_ref<const std::string&>()).value_or(0);
    return 0;
}

bool Fields::b(std::string_view key) const {
    const auto* v = find(key);
    if (!v) return false;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number()) return v->get<double>() != 0;
    if (v->is_string()) {
        const auto& t = v->get_ref<const std::string&>();
        return t == "true" || t == "1";
    }
    return false;
}

}  // namespace corvane
