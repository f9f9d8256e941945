// Sends, the file list of the current target and the peer clients.
#include <algorithm>
#include <cctype>

#include <QPointer>

#include "app/app_state.h"
#include "base/text_util.h"
#include "engine/sending/api_client.h"
#include "engine/discovery/discovery.h"
#include "base/storage_fault.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "engine/sending/uploader.h"

namespace corvane {

namespace {

// A host name or dotted address: nothing a URL would read as a path, a query, a user or a port.
bool validHost(const std::string& host) {
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    });
}

// The server's listing holds at most this many files.
constexpr size_t kListingLimit = 5000;

}  // namespace

void AppState::send(const std::vector<std::filesystem::path>& urls) {
    if (urls.empty()) return;
    const std::optional<Target> target = resolveSendTarget();
    if (!target) return;
    const std::optional<Peer> peer = target->peer;
    std::string pinOverride;
    if (peer) {
        const auto pin = peerPINs_.find(peer->id);
        if (pin != peerPINs_.end()) pinOverride = pin->second;
    }

    std::vector<std::shared_ptr<TransferTask>> tasks;
    std::vector<std::string> cutNotices;  // folders cut at the queue's limit
    for (const std::filesystem::path& url : urls) {
        std::error_code ec;
        if (std::filesystem::is_directory(url, ec)) {
            FolderTasks folder = uploader_->expandDirectory(url, peer);
            for (auto& task : folder.tasks) tasks.push_back(std::move(task));
            if (folder.cutNotice) cutNotices.push_back(*folder.cutNotice);
        } else if (auto task = Uploader::makeTask(url, "", peer)) {
            tasks.push_back(std::move(task));
        }
    }
    if (tasks.empty()) return;
    const size_t count = tasks.size();
    uploader_->append(tasks);
    for (const std::string& notice : cutNotices) log(notice);
    // A cut folder is what the user must learn of: the queue would end in "全部完成".
    flash(cutNotices.empty() ? "已加入 " + std::to_string(count) + " 个文件到传输队列" : joined(cutNotices, "\n"));
    uploader_->pump(peer, pinOverride, token_, port_);
}

void AppState::refreshFiles() {
    setLoadingFiles(true);
    // Listings overlap; only the newest may write the list, so a slow answer of an
    // earlier target never replaces the current one (a delete would then hit the wrong files).
    const uint64_t generation = ++filesGeneration_;
    // The target is read only when the queued job runs, after the current main-thread work.
    const QPointer<AppState> self(this);
    env_.mainQueue->post([self, generation] {
        if (self) self->loadFilesOfTarget(generation);
    });
}

std::optional<APIClient> AppState::client(const Peer& peer) const {
    // An address with "/", "?", "@" or ":" in it would send the request to another host or port.
    if (!validHost(peer.ip)) return std::nullopt;
    const auto pin = peerPINs_.find(peer.id);
    APIClient c("http://" + peer.ip + ":" + std::to_string(peer.port) + "/", peer.token,
                pin == peerPINs_.end() ? "" : pin->second);
    if (!c.makeURL("/")) return std::nullopt;
    return c;
}

std::optional<APIClient> AppState::localClient() const {
    APIClient c("http://127.0.0.1:" + std::to_string(port_) + "/", "", "");
    if (!c.makeURL("/")) return std::nullopt;
    return c;
}

void AppState::loadFilesOfTarget(uint64_t generation) {
    if (generation != filesGeneration_) return;  // a newer listing is on its way
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    const auto land = [self, generation](std::vector<FileItem> files, bool truncated, std::string problem) {
        if (!self || generation != self->filesGeneration_) return;
        self->setFilesTruncated(truncated);  // before the files, which the views redraw on
        self->setFilesProblem(std::move(problem));
        self->setFiles(std::move(files));
        self->setLoadingFiles(false);
    };
    if (target_.peer) {
        const auto c = client(*target_.peer);
        if (!c) {
            setLoadingFiles(false);  // the list stays as it is
            return;
        }
        // A dead peer holds this call for minutes: a worker waits for it.
        workers_.run([queue, land, c = *c] {
            APIResult<FileList> listing = c.files();
            std::string problem;
            if (!listing.ok()) {
                listing.value = {};
                // The peer's storage fault is said as the peer words it; other failures keep the empty list.
                const APIError& error = *listing.error;
                if (error.kind == APIError::Kind::http && (error.status == 503 || error.status == 507)) problem = error.message;
            }
            queue->post([land, listing = std::move(listing.value), problem] { land(listing.files, listing.truncated, problem); });
        });
        return;
    }
    if (!server_) {
        land({}, false, "");
        return;
    }
    // Listing up to thousands of files waits on the disk: off the main thread.
    const std::shared_ptr<HTTPServer> server = server_;
    workers_.run([queue, land, server] {
        std::vector<FileItem> files = server->listFiles();
        // The walk stops at its limit, and a listing that reached it was cut, as the
        // server's own reply says.
        const bool truncated = files.size() >= kListingLimit;
        // An empty walk of a folder whose storage is gone is no empty folder.
        const bool lost = probeStorage(server->root()) != StorageFault::none;
        const std::string problem = lost ? storageUnreachableText : "";
        queue->post([land, files = std::move(files), truncated, problem] { land(files, truncated, problem); });
    });
}

}  // namespace corvane
