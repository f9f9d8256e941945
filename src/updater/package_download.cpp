#include "updater/package_download.h"

#include <thread>

#include "engine/sending/curl_http.h"
#include "updater/main_thread_post.h"

namespace corvane {

namespace {

// Progress goes to the main thread only when it moved by a thousandth or more.
int64_t permille(int64_t written, int64_t total) { return total > 0 ? written * 1000 / total : -1; }

}  // namespace

std::optional<double> downloadFraction(int64_t written, int64_t total) {
    if (total < 1) return std::nullopt;
    const double fraction = double(written) / double(total);
    if (fraction <= 0) return 0.0;
    return fraction > 1 ? 1.0 : fraction;
}

PackageDownload::PackageDownload(std::string url, std::filesystem::path file, long idleTimeoutSeconds)
    : url_(std::move(url)), file_(std::move(file)), idleTimeoutSeconds_(idleTimeoutSeconds) {}

void PackageDownload::start(Callbacks callbacks) {
    std::thread([self = shared_from_this(), callbacks = std::move(callbacks)] { self->run(callbacks); }).detach();
}

void PackageDownload::run(const Callbacks& callbacks) {
    CurlRequest request;
    request.url = url_;
    request.timeoutSeconds = 0;  // a large package may take long; a stalled one ends by the idle time-out
    request.idleTimeoutSeconds = idleTimeoutSeconds_;
    request.outputFile = file_.string();
    int64_t lastPermille = -2;
    request.onProgress = [this, &callbacks, &lastPermille](int64_t written, int64_t total) {
        if (cancelled_) return false;
        const int64_t now = permille(written, total);
        if (now != lastPermille && total > 0) {
            lastPermille = now;
            postToMainThread([progress = callbacks.progress, written, total] { progress(written, total); });
        }
        return true;
    };
    const CurlResult result = curlPerform(request);
    const bool ok = result.ok && !cancelled_;
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(file_, ec);
    }
    postToMainThread([finished = callbacks.finished, ok, error = transportErrorText(result)] { finished(ok, error); });
}

}  // namespace corvane
