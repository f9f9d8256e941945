#pragma once
// The one way an operation says "done" or "refused, and here is why": the refusal
// text is shown to the user as it stands. `Outcome` carries nothing on success;
// `Result<T>` carries the value.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace corvane {

struct Refusal {
    std::string text;
};

class [[nodiscard]] Outcome {
public:
    Outcome() = default;  // done
    Outcome(Refusal refusal) : refusal_(std::move(refusal.text)) {}

    bool ok() const { return !refusal_; }
    explicit operator bool() const { return ok(); }
    // The refusal text; empty when done.
    const std::string& refusal() const {
        static const std::string none;
        return refusal_ ? *refusal_ : none;
    }

private:
    std::optional<std::string> refusal_;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : outcome_(std::move(value)) {}
    Result(Refusal refusal) : outcome_(std::move(refusal)) {}

    bool ok() const { return std::holds_alternative<T>(outcome_); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(outcome_); }
    T& value() { return std::get<T>(outcome_); }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }
    // The refusal text; empty when done.
    const std::string& refusal() const {
        static const std::string none;
        return ok() ? none : std::get<Refusal>(outcome_).text;
    }

private:
    std::variant<T, Refusal> outcome_;
};

}  // namespace corvane
