#pragma once
// Where the updater stands: idle, checking, latest, available, downloading(p),
// verifying, installing or failed(message).

#include <string>

namespace corvane {

struct UpdatePhase {
    enum class Kind { idle, checking, latest, available, downloading, verifying, installing, failed };
    Kind kind = Kind::idle;
    double fraction = 0;   // downloading
    std::string message;   // failed

    static UpdatePhase idle() { return {}; }
    static UpdatePhase of(Kind kind) { return {kind, 0, {}}; }
    static UpdatePhase downloading(double fraction) { return {Kind::downloading, fraction, {}}; }
    static UpdatePhase failed(std::string message) { return {Kind::failed, 0, std::move(message)}; }

    // A check may not start in these.
    bool busy() const;
    // The case name, with its value in parentheses for downloading and failed
    // (a text value in double quotes): latest, downloading(0.5), failed("...").
    std::string text() const;
    bool operator==(const UpdatePhase&) const = default;
};

}  // namespace corvane
