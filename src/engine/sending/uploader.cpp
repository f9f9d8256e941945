#include "engine/sending/uploader.h"

#include <mutex>
#include <sys/stat.h>
#include <utility>

#include "engine/sending/file_id.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// "/a/Photos/" names the folder Photos like "/a/Photos" does.
fs::path withoutTrailingSlash(const fs::path& path) {
    return path.has_filename() || !path.has_parent_path() ? path : path.parent_path();
}

bool hidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

// A transfer's updates on their way to the main thread, which one post takes together. Its
// last update waits until its job has returned: until then the job's pipe may still close
// the connection of its session, which that update hands to the next transfer.
class UpdateBox {
public:
    // Keeps the update; true when a post must now take what waits.
    bool put(TransferUpdate update) {
        std::lock_guard guard(lock_);
        updates_.push_back(std::move(update));
        return postNeeded();
    }
    // The job returned; true when a post must now take what waits.
    bool jobReturned() {
        std::lock_guard guard(lock_);
        returned_ = true;
        return postNeeded();
    }
    // What may go, in the order it came.
    std::vector<TransferUpdate> take() {
        std::lock_guard guard(lock_);
        posted_ = false;
        const bool keepLast = !returned_ && !updates_.empty() && updates_.back().ended;
        std::vector<TransferUpdate> taken;
        taken.swap(updates_);
        if (keepLast) {
            updates_.push_back(std::move(taken.back()));
            taken.pop_back();
        }
        return taken;
    }

private:
    bool postNeeded() {
        const bool waiting = updates_.size() > 1 || (updates_.size() == 1 && (returned_ || !updates_.front().ended));
        if (posted_ || !waiting) return false;
        posted_ = true;
        return true;
    }

    std::mutex lock_;
    std::vector<TransferUpdate> updates_;
    bool returned_ = false;
    bool posted_ = false;  // a post will take what waits
};

}  // namespace

Uploader::Uploader(MainQueue& mainQueue, TransferClock clock, UploaderOptions options)
    : main_(mainQueue), clock_(std::move(clock)), options_(options) {}

Uploader::~Uploader() {
    *alive_ = false;
    stopping_->store(true);
}

void Uploader::append(const std::vector<std::shared_ptr<TransferTask>>& more) {
    for (const auto& task : more) {
        const auto reach = reach_.find(receiverOf(*task));
        task->receiverOutOfReach = reach != reach_.end() && reach->second.lostSince.has_value();
    }
    tasks_.insert(tasks_.end(), more.begin(), more.end());
    changed();
}

std::shared_ptr<TransferTask> Uploader::makeTask(const fs::path& file, const std::string& rel,
                                                 const std::optional<Peer>& target) {
    // The size of what reading the path gives: a link is followed.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return nullptr;
    const fs::path source = withoutTrailingSlash(file);
    return std::make_shared<TransferTask>(source.filename().string(), rel, int64_t(st.st_size), source, target);
}

namespace {

// A regular file met in a folder walk, with its size: one look at the entry, since a
// link (which is skipped) is never followed.
std::optional<int64_t> regularFileSize(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return int64_t(st.st_size);
}

}  // namespace

FolderTasks Uploader::expandDirectory(const fs::path& folder, const std::optional<Peer>& target) {
    FolderTasks out;
    const fs::path root = withoutTrailingSlash(fs::absolute(folder).lexically_normal());
    const fs::path parent = root.parent_path();
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    if (ec) return out;
    bool cut = false;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& entry = *it;
        if (hidden(entry.path())) {
            if (entry.is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        const auto size = regularFileSize(entry.path());
        if (!size) continue;
        if (out.tasks.size() >= folderLimit) {
            cut = true;
            break;
        }
        std::string rel = entry.path().lexically_relative(parent).generic_string();
        if (rel.empty() || rel.rfind("..", 0) == 0) rel = entry.path().filename().string();
        out.tasks.push_back(std::make_shared<TransferTask>(entry.path().filename().string(), rel, *size, entry.path(), target));
    }
    if (cut) {
        const std::string limit = std::to_string(folderLimit);
        out.cutNotice = "「" + root.filename().string() + "」超过 " + limit + " 个文件，只发送了前 " + limit + " 个";
        log(*out.cutNotice);
    }
    return out;
}

void Uploader::pump(const std::optional<Peer>& target, const std::optional<std::string>& pinOverride,
                    const std::string& token, int myPort) {
    if (pumping_) return;
    pumping_ = true;
    const PumpArgs args{target, pinOverride, token, myPort};
    while (activeCount_ < concurrency) {
        const auto next = std::find_if(tasks_.begin(), tasks_.end(), [this](const auto& t) {
            return t->state.kind == TransferState::Kind::waiting && !reach_[receiverOf(*t)].resting;
        });
        if (next == tasks_.end()) break;
        (*next)->state = TransferState::running();
        ++activeCount_;
        changed();
        start(*next, args);
    }
    pumping_ = false;
}

void Uploader::start(const std::shared_ptr<TransferTask>& task, const PumpArgs& args) {
    auto client = clientForTarget(task->target, args.pinOverride.value_or(""), args.myPort);
    if (client) client = client->stoppedBy(stopping_).repeatingUploads().withTimeouts(options_.timeouts);
    std::shared_ptr<CurlSession> session;
    if (idleSessions_.empty()) {
        session = std::make_shared<CurlSession>();
    } else {
        session = std::move(idleSessions_.back());
        idleSessions_.pop_back();
    }
    MainQueue& main = main_;
    // Updates wait in the box for the main thread, which takes all of them at once: a small
    // file's few updates come microseconds apart, and each post would wake the main thread.
    // The transfer's last update hands its session back before the next one starts.
    auto box = std::make_shared<UpdateBox>();
    auto deliver = [this, &main, alive = alive_, task, args, session, box] {
        main.post([this, alive, task, args, session, box] {
            const std::vector<TransferUpdate> updates = box->take();
            if (!*alive) return;
            for (const TransferUpdate& each : updates) {
                if (each.ended) idleSessions_.push_back(session);
                apply(task, each, args);
            }
        });
    };
    auto report = [box, deliver](TransferUpdate update) {
        if (box->put(std::move(update))) deliver();
    };
    TransferJob job{task, std::move(client), std::move(report), session, clock_, reach_[receiverOf(*task)].reached};
    threads_.run([job = std::move(job), box, deliver] {
        job.run();
        if (box->jobReturned()) deliver();
    });
}

void Uploader::apply(const std::shared_ptr<TransferTask>& task, const TransferUpdate& update, const PumpArgs& args) {
    if (update.state) task->state = *update.state;
    if (update.sent) task->sent = *update.sent;
    if (update.speed) task->speed = *update.speed;
    if (update.resumedChunks) task->resumedChunks = *update.resumedChunks;
    changed();
    if (update.stored && onFinished) onFinished(*update.stored, task->target);
    if (update.log) log(*update.log);
    if (update.reached) {
        Reach& reach = reach_[receiverOf(*task)];
        reach.reached->store(true);
        if (reach.lostSince) markOutOfReach(receiverOf(*task), false);
        reach.lostSince.reset();
    }
    if (update.unreached) {
        task->finishUnanswered = update.finishUnanswered;
        unreached(task, *update.unreached, args);
    }
    if (update.ended) {
        --activeCount_;
        pump(args.target, args.pinOverride, args.token, args.myPort);
    }
}

void Uploader::unreached(const std::shared_ptr<TransferTask>& task, const APIError& error, const PumpArgs& args) {
    if (task->cancelRequested) return;  // cancelled after its transfer last looked
    const std::string receiver = receiverOf(*task);
    Reach& reach = reach_[receiver];
    const double at = now();
    if (!reach.lostSince) reach.lostSince = at;
    if (at - *reach.lostSince >= std::chrono::duration<double>(options_.giveUpAfter).count()) {
        task->receiverOutOfReach = false;
        task->state = TransferState::failed(error.description());
        log("传输失败 " + task->fileName + "：" + error.logText());
        changed();
        return;
    }
    task->state = TransferState::waiting();
    task->speed = 0;
    markOutOfReach(receiver, true);
    changed();
    if (reach.resting) return;
    reach.resting = true;
    main_.postAfter(options_.retryPause, [this, alive = alive_, receiver, args] {
        if (!*alive) return;
        reach_[receiver].resting = false;
        pump(args.target, args.pinOverride, args.token, args.myPort);
    });
}

void Uploader::markOutOfReach(const std::string& receiver, bool outOfReach) {
    for (const auto& task : tasks_) {
        if (receiverOf(*task) != receiver) continue;
        task->receiverOutOfReach = outOfReach && task->state.kind == TransferState::Kind::waiting;
    }
}

std::string Uploader::receiverOf(const TransferTask& task) {
    return task.target ? task.target->ip + ":" + std::to_string(task.target->port) : "";
}

double Uploader::now() const { return clock_ ? clock_() : steadySeconds(); }

void Uploader::cancel(const std::shared_ptr<TransferTask>& task) {
    task->cancelRequested = true;
    task->receiverOutOfReach = false;
    task->state = TransferState::cancelled();
    changed();
    if (!task->target) return;  // this device's own uploads need no request
    const auto client = clientForTarget(task->target, "", 0);
    if (!client) return;
    const std::string id = FileID::hash(task->fileName, task->totalSize, fileMTime(task->sourceURL), task->relPath);
    threads_.run([client = client->stoppedBy(stopping_).withTimeouts(options_.timeouts), id] { client.cancelUpload(id); });
}

void Uploader::clearFinished() {
    std::erase_if(tasks_, [](const auto& t) { return !t->state.active(); });
    changed();
}

double Uploader::fileMTime(const fs::path& file) { return fileMTimeMs(file); }

void Uploader::log(const std::string& line) const {
    if (onLog) onLog(line);
}

void Uploader::changed() const {
    if (onChange) onChange();
}

}  // namespace corvane
