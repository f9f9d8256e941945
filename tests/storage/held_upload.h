#pragma once
// An upload the engine holds half-way in its staging folder ".parts", started through
// the engine's own routes. Tests of the storage routes aim their requests at it and
// then show it untouched: same files byte for byte, and the sender's finish stores the
// sender's bytes under the sender's name.

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace corvane::test {

class HeldUpload {
public:
    static constexpr const char* id = "0123456789abcdef";  // its part folder: ".parts/0123456789abcdef"

    HeldUpload(int port, std::filesystem::path root) : port_(port), root_(std::move(root)) {
        const nlohmann::json meta{{"name", "report.txt"}, {"rel", "docs/report.txt"}, {"size", chunk_.size()},
                                  {"chunks", 1}, {"mtime", 0}};
        // The chunk before the meta: the upload has a part folder (a file of one chunk whose
        // meta comes first has none).
        EXPECT_EQ(send("PUT", "/0", chunk_).status, 200);
        EXPECT_EQ(send("PUT", "/meta", meta.dump()).status, 200);
        files_ = filesNow();
        EXPECT_TRUE(files_.count("meta.json") && files_.count("000000000000.part"));
    }

    void expectUntouchedAndFinishing() {
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_directory(root_ / ".parts", ec));
        EXPECT_FALSE(std::filesystem::exists(root_ / ".PARTS", ec));
        EXPECT_EQ(filesNow(), files_);
        const RawReply finish = send("POST", "/finish", "{}");
        EXPECT_EQ(finish.status, 200) << finish.body;
        EXPECT_EQ(nlohmann::json::parse(finish.body, nullptr, false).value("p", ""), "docs/report.txt");
        EXPECT_EQ(readFile(root_ / "docs" / "report.txt"), chunk_);
    }

private:
    RawReply send(const std::string& method, const std::string& tail, const std::string& body) {
        return httpRequest(port_, method, "/api/upload/" + std::string(id) + tail, {}, body).value_or(RawReply{});
    }

    // The part folder's files and their bytes.
    std::map<std::string, std::string> filesNow() const {
        std::map<std::string, std::string> files;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(root_ / ".parts" / id, ec)) {
            files[entry.path().filename().string()] = readFile(entry.path());
        }
        return files;
    }

    int port_;
    std::filesystem::path root_;
    const std::string chunk_ = "the sender's own bytes\n";
    std::map<std::string, std::string> files_;
};

}  // namespace corvane::test
