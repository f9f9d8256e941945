#pragma once
// One package download on a worker thread through the libcurl wrapper. Its
// progress and its end are handed to the main thread; cancelling aborts the
// transfer from its progress callback. The file is removed when the download
// does not finish.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// The share of the package written so far, clamped to 0...1; none while the
// total is unknown (below 1 byte).
std::optional<double> downloadFraction(int64_t written, int64_t total);

class PackageDownload : public std::enable_shared_from_this<PackageDownload> {
public:
    struct Callbacks {
        std::function<void(int64_t written, int64_t total)> progress;   // main thread
        std::function<void(bool ok, const std::string& error)> finished;  // main thread; error when !ok
    };

    PackageDownload(std::string url, std::filesystem::path file, long idleTimeoutSeconds);

    const std::filesystem::path& file() const { return file_; }
    // Starts the transfer; returns at once.
    void start(Callbacks callbacks);
    // Aborts the transfer at its next progress report; its end is still reported.
    void cancel() { cancelled_ = true; }

private:
    void run(const Callbacks& callbacks);

    std::string url_;
    std::filesystem::path file_;
    long idleTimeoutSeconds_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace corvane
