#pragma once
// The team web page (web/team.html), compiled in at build time.

#include <string_view>

namespace corvane {

std::string_view teamPageHTML();

}  // namespace corvane
