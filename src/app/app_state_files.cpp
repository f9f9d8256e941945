// The file list of the current target and the team-state mirror.
#include <QPointer>

#include "app/app_state.h"
#include "engine/api_client.h"
#include "engine/discovery.h"
#include "engine/http_server.h"
#include "engine/uploader.h"

namespace corvane {

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
    for (const std::filesystem::path& url : urls) {
        std::error_code ec;
        if (std::filesystem::is_directory(url, ec)) {
            for (auto& task : uploader_->expandDirectory(url, peer)) tasks.push_back(std::move(task));
        } else if (auto task = Uploader::makeTask(url, "", peer)) {
            tasks.push_back(std::move(task));
        }
    }
    if (tasks.empty()) return;
    uploader_->append(tasks);
    uploader_->pump(peer, pinOverride, token_, port_);
}

void AppState::refreshFiles() {
    setLoadingFiles(true);
    // The target is read only when the queued job runs, after the current main-thread work.
    const QPointer<AppState> self(this);
    env_.mainQueue->post([self] {
        if (self) self->loadFilesOfTarget();
    });
}

std::optional<APIClient> AppState::client(const Peer& peer) const {
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

void AppState::loadFilesOfTarget() {
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    if (target_.peer) {
        const auto c = client(*target_.peer);
        if (!c) {
            setLoadingFiles(false);  // the list stays as it is
            return;
        }
        // A dead peer holds this call for minutes: a worker waits for it.
        workers_.run([self, queue, c = *c] {
            const APIResult<FileList> listing = c.files();
            queue->post([self, files = listing.ok() ? listing.value.files : std::vector<FileItem>{}] {
                if (!self) return;
                self->setFiles(files);
                self->setLoadingFiles(false);
            });
        });
        return;
    }
    if (!server_) {
        setFiles({});
        setLoadingFiles(false);
        return;
    }
    // Listing up to thousands of files waits on the disk: off the main thread.
    const std::shared_ptr<HTTPServer> server = server_;
    workers_.run([self, queue, server] {
        std::vector<FileItem> files = server->listFiles();
        queue->post([self, files = std::move(files)] {
            if (!self) return;
            self->setFiles(files);
            self->setLoadingFiles(false);
        });
    });
}

}  // namespace corvane
