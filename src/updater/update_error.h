#pragma once
// Why an install step failed, as the text the user is shown.

#include <string>

namespace corvane {

struct UpdateError {
    std::string message;
};

}  // namespace corvane
