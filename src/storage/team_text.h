#pragma once
// Text rules of the account code: trimming and case folding of names, addresses and codes.

#include <string>
#include <string_view>

namespace corvane {

// Removes Unicode white space and line breaks from both ends.
std::string trimWhitespace(std::string_view text);
// Removes only spaces and tabs from both ends (line breaks stay).
std::string trimSpacesTabs(std::string_view text);
// Full Unicode lower-casing, independent of the user's locale.
std::string lowerText(std::string_view text);
// Whether lowerText(text) is `lowered`; ASCII text is compared without converting it.
bool lowersTo(std::string_view text, std::string_view lowered);

}  // namespace corvane
