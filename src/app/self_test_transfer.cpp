#include "app/self_test_transfer.h"

#include <cstdlib>

#include "base/text_util.h"
#include "base/whole_files.h"
#include "engine/sending/curl_http.h"
#include "engine/sending/file_id.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// A private folder for the test file's copy: a predictable name in the shared
// temporary folder could be planted or raced by another user.
fs::path makePrivateFolder() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    std::string pattern = ((ec ? fs::path("/tmp") : base) / "corvane-selftest-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

std::string fileCountLine(const APIClient& client) {
    const APIResult<FileList> listing = client.files();
    if (!listing.ok()) return "列文件失败: " + listing.error->logText();
    const std::vector<FileItem>& files = listing.value.files;
    return "对端文件数: " + std::to_string(files.size()) + " 首个: " + (files.empty() ? "-" : files.front().name);
}

// Upload, download and compare; the first failure ends the step with its line.
void uploadAndCompare(const APIClient& client, const std::string& data, std::vector<std::string>& lines) {
    const std::string id = SelfTestFile::uploadID();
    const nlohmann::json meta = {
        {"name", SelfTestFile::name}, {"rel", SelfTestFile::name}, {"size", SelfTestFile::size}, {"chunks", 1}};
    if (const auto error = client.putMeta(id, meta)) {
        lines.push_back("上传失败: " + error->logText());
        return;
    }
    if (const auto error = client.putChunk(id, 0, data)) {
        lines.push_back("上传失败: " + error->logText());
        return;
    }
    const APIResult<FileItem> stored = client.finish(id);
    if (!stored.ok()) {
        lines.push_back("上传失败: " + stored.error->logText());
        return;
    }
    lines.push_back("上传落盘: " + stored.value.path + " " + std::to_string(stored.value.size) + "B");

    const APIResult<std::string> url = client.downloadURL(stored.value.path);
    if (!url.ok()) {
        lines.push_back("上传失败: " + url.error->logText());
        return;
    }
    CurlRequest request;
    request.url = url.value;
    const CurlResult download = curlPerform(request);
    if (!download.ok) {
        lines.push_back("上传失败: " + download.error);
        return;
    }
    if (download.status <= 399) {
        lines.push_back(download.body == data ? "下载往返一致 ✓" : "下载内容不一致 ✗");
    } else {
        lines.push_back("下载失败 HTTP " + std::to_string(download.status));
    }
    client.deletePath(stored.value.path);  // its outcome is not reported
    lines.push_back("对端清理完成");
}

}  // namespace

std::string SelfTestFile::bytes() {
    std::string data(size_t(size), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i % 251);
    return data;
}

std::string SelfTestFile::uploadID() { return FileID::hash(name, size, 0, name); }

std::vector<std::string> selfTestRoundTrip(const APIClient& client) {
    std::vector<std::string> lines{fileCountLine(client)};
    const std::string data = SelfTestFile::bytes();

    // A copy on disk as a normal send would have; the upload itself reads from memory.
    const fs::path folder = makePrivateFolder();
    if (!folder.empty()) writeWholeFile(folder / SelfTestFile::name, data);

    uploadAndCompare(client, data, lines);

    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);  // a failure is ignored
    return lines;
}

std::string selfTestReport(const std::vector<std::string>& lines) { return joined(lines, "\n"); }

std::string selfTestLogEntry(const std::vector<std::string>& lines) { return "SELFTEST:\n  " + joined(lines, "\n  "); }

}  // namespace corvane
