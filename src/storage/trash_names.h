#pragma once
// Names in the recycle bin ".trash": the moment of deletion and the entry's former
// path in one name, "20250303-140509-docs∕q3∕report.pdf", and back.

#include <functional>
#include <string>
#include <string_view>

namespace corvane {

// The bin name of a cleaned path: stamp, "-", the path with "/" as "∕" (U+2215). Over
// 200 UTF-8 bytes, a fresh stamp, "-" and the last component only.
std::string trashNameFor(const std::string& rel, const std::function<std::string()>& stamp);

// The former path a bin name records: the name less its first 16 characters (when it
// has more than 15), "∕" turned back into "/". Characters are grapheme clusters.
std::string sourcePathOf(std::string_view name);

// Whether a client may name this bin entry: non-empty, no leading ".", no "/", at most
// 200 grapheme clusters.
bool trashEntryAccepted(std::string_view name);

}  // namespace corvane
