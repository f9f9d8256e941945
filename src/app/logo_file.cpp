#include "app/logo_file.h"

#include <fstream>

namespace corvane {

Result<std::string> readLogoFile(const std::filesystem::path& path, size_t limit) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return Refusal{"读不出这张图片"};
    std::ifstream in(path, std::ios::binary);
    if (!in) return Refusal{"读不出这张图片"};
    std::string bytes(limit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return Refusal{"读不出这张图片"};
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > limit) return Refusal{"图片太大了（限 1.5MB）"};
    return bytes;
}

}  // namespace corvane
