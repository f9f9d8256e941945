#include "updater/version_compare.h"

#include <cstdint>
#include <vector>

#include "base/json_fields.h"

namespace corvane {

namespace {

// The pieces between dots, empty pieces dropped, each as its number or 0.
std::vector<int64_t> versionPieces(std::string_view text) {
    std::vector<int64_t> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t dot = text.find('.', start);
        const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (!piece.empty()) pieces.push_back(parseIntText(piece).value_or(0));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return pieces;
}

}  // namespace

bool isNewerVersion(std::string_view a, std::string_view b) {
    const std::vector<int64_t> x = versionPieces(a);
    const std::vector<int64_t> y = versionPieces(b);
    const size_t count = std::max(x.size(), y.size());
    for (size_t i = 0; i < count; ++i) {
        const int64_t xi = i < x.size() ? x[i] : 0;
        const int64_t yi = i < y.size() ? y[i] : 0;
        if (xi != yi) return xi > yi;
    }
    return false;
}

}  // namespace corvane
