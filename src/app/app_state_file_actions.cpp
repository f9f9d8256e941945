// The actions of the file pane: search, total size, download, open and delete.
#include <QPointer>

#include "app/app_state.h"
#include "app/remote_download.h"
#include "base/file_names.h"
#include "storage/team_text.h"

namespace fs = std::filesystem;

namespace corvane {

std::vector<FileItem> AppState::filteredFiles() const {
    const std::string q = lowerText(trimSpacesTabs(searchText_));
    if (q.empty()) return files_;
    std::vector<FileItem> shown;
    for (const FileItem& item : files_) {
        if (lowerText(item.path).find(q) != std::string::npos) shown.push_back(item);
    }
    return shown;
}

int64_t AppState::totalSize() const {
    int64_t total = 0;
    for (const FileItem& item : files_) total += item.size;
    return total;
}

std::string AppState::uniqueName(const fs::path& folder, const std::string& name) {
    return corvane::uniqueName(folder, name);
}

void AppState::download(const FileItem& item) {
    if (!target_.peer) return;
    const auto c = client(*target_.peer);
    if (!c) return;
    const APIResult<std::string> url = c->downloadURL(item.path);
    if (!url.ok()) return;
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, url = url.value, root = root_, name = savedFileName(item)] {
        const DownloadOutcome outcome = downloadInto(url, root, name);
        queue->post([self, saved = outcome.savedName.has_value()] {
            // Nothing is shown for a download, neither progress nor failure.
            if (self && saved && self->target_.isLocal()) self->refreshFiles();
        });
    });
}

void AppState::open(const FileItem& item) {
    if (target_.peer) {
        downloadAndOpen(item, *target_.peer);
        return;
    }
    std::error_code ec;
    const auto path = localItemPath(root_, item.path);
    if (path && fs::exists(*path, ec)) {
        if (!env_.openPath(*path)) flash("没有能打开「" + item.name + "」的应用");
        return;
    }
    flash("文件不存在：" + item.name);
    refreshFiles();
}

void AppState::downloadAndOpen(const FileItem& item, const Peer& peer) {
    const auto c = client(peer);
    if (!c) return;
    flash("正在下载「" + item.name + "」…");
    const APIResult<std::string> url = c->downloadURL(item.path);
    if (!url.ok()) {
        flash("打开失败：" + url.error->description());
        return;
    }
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, url = url.value, root = root_, name = savedFileName(item)] {
        const DownloadOutcome outcome = downloadInto(url, root, name);
        queue->post([self, outcome, root] {
            if (!self) return;
            if (!outcome.savedName) {
                self->flash("打开失败：" + outcome.error);
                return;
            }
            if (!self->env_.openPath(root / *outcome.savedName)) self->flash("已下载，但没有能打开它的应用");
            if (self->target_.isLocal()) self->refreshFiles();
        });
    });
}

void AppState::deleteFiles(const std::vector<FileItem>& items) {
    if (items.empty()) return;
    // The target of the call: a later switch does not redirect deletions under way.
    std::optional<APIClient> remote;
    if (target_.peer) {
        remote = client(*target_.peer);
        if (!remote) {
            refreshFiles();  // every item is skipped
            return;
        }
    }
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, items, remote, root = root_] {
        for (const FileItem& item : items) {
            if (remote) {
                remote->deletePath(item.path);  // one after another; a refusal is not shown
                continue;
            }
            // Only a path inside the receive folder is removed; an empty one names the folder itself.
            if (const auto path = localItemPath(root, item.path)) {
                std::error_code ec;
                fs::remove_all(*path, ec);
            }
        }
        queue->post([self] {
            if (self) self->refreshFiles();
        });
    });
}

}  // namespace corvane
