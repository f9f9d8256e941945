#include "updater/update_phase.h"

#include <charconv>

namespace corvane {

namespace {

const char* caseName(UpdatePhase::Kind kind) {
    switch (kind) {
        case UpdatePhase::Kind::idle: return "idle";
        case UpdatePhase::Kind::checking: return "checking";
        case UpdatePhase::Kind::latest: return "latest";
        case UpdatePhase::Kind::available: return "available";
        case UpdatePhase::Kind::downloading: return "downloading";
        case UpdatePhase::Kind::verifying: return "verifying";
        case UpdatePhase::Kind::installing: return "installing";
        case UpdatePhase::Kind::failed: return "failed";
    }
    return "idle";
}

// The shortest text that reads back as the same number, always with a decimal part ("0.0", "0.25").
std::string shortestDecimal(double value) {
    char buf[64] = {};
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, ec == std::errc() ? end : buf);
    if (text.find_first_of(".en") == std::string::npos) text += ".0";
    return text;
}

}  // namespace

bool UpdatePhase::busy() const {
    return kind == Kind::checking || kind == Kind::downloading || kind == Kind::verifying ||
           kind == Kind::installing;
}

std::string UpdatePhase::text() const {
    std::string text = caseName(kind);
    if (kind == Kind::downloading) text += "(" + shortestDecimal(fraction) + ")";
    if (kind == Kind::failed) text += "(\"" + message + "\")";
    return text;
}

}  // namespace corvane
