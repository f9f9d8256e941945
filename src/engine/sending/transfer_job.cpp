#include "engine/sending/transfer_job.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/json_fields.h"
#include "base/unique_fd.h"
#include "engine/sending/file_id.h"

namespace corvane {

namespace {

const char* const kChangedWhileSending = "文件在发送过程中被修改";

// The refusals of an upload that a receiver makes to protect the uploads it holds
// ("forbidden": another device's upload of the same file holds it; "busy": no room
// for one more now). Their wire words stay as they are for peers; a person reads
// what to do. Every other reply text reaches the user as the receiver wrote it.
std::optional<std::string> uploadRefusalText(const APIError& error) {
    if (error.kind != APIError::Kind::http) return std::nullopt;
    if (error.status == 403 && error.message == "forbidden") return "对方正在接收另一台设备发来的同一文件，请稍后再发";
    if (error.status == 503 && error.message == "busy") return "对方正忙，请稍后再发";
    return std::nullopt;
}

std::string targetName(const std::optional<Peer>& target) { return target ? target->name : "本机"; }

double millisecondsOf(const timespec& time) { return double(time.tv_sec) * 1000.0 + double(time.tv_nsec) / 1e6; }

}  // namespace

std::optional<APIClient> clientForTarget(const std::optional<Peer>& target, const std::string& pin, int myPort) {
    APIClient client = target ? APIClient("http://" + target->ip + ":" + std::to_string(target->port) + "/",
                                          target->token, pin)
                              : APIClient("http://127.0.0.1:" + std::to_string(myPort) + "/", "", "");
    if (!client.makeURL("/")) return std::nullopt;
    return client;
}

int64_t chunkCount(int64_t totalSize) {
    if (totalSize <= 0) return 1;
    return (totalSize + kChunkSize - 1) / kChunkSize;
}

std::set<int64_t> heldChunks(const nlohmann::json& status, int64_t totalSize) {
    std::set<int64_t> held;
    if (!status.is_object() || !Fields(status).b("exists")) return held;
    const auto received = status.find("received");
    if (received != status.end() && received->is_array()) {
        for (const auto& element : *received) {
            if (!element.is_number()) continue;
            const int64_t index = Fields(nlohmann::json{{"v", element}}).i64("v");
            // Indices this file does not have would only inflate the resumed count.
            if (index >= 0 && index < chunkCount(totalSize)) held.insert(index);
        }
    }
    const auto meta = status.find("meta");
    if (meta != status.end() && meta->is_object() && Fields(*meta).i64("size") != totalSize) held.clear();
    return held;
}

double ChunkSource::modifiedMs() {
    if (!fd_) fd_.reset(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) return fileMTimeMs(file_);
    return millisecondsOf(st.st_mtim);
}

Result<FileSlice> ChunkSource::slice(int64_t offset, int64_t length) {
    if (!fd_) fd_.reset(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd_) return Refusal{std::strerror(errno)};
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) return Refusal{std::strerror(errno)};
    if (int64_t(st.st_size) < offset + length) return Refusal{kChangedWhileSending};
    return FileSlice{fd_.get(), offset, length};
}

double fileMTimeMs(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return millisecondsOf(st.st_mtim);
}

void TransferJob::end(TransferUpdate update) const {
    update.ended = true;
    report(std::move(update));
}

void TransferJob::giveBack(const APIError& error) const {
    TransferUpdate update;
    if (cancelled()) {
        update.state = TransferState::cancelled();
    } else {
        update.unreached = error;
    }
    end(std::move(update));
}

void TransferJob::fail(const std::string& text) const { fail(text, text); }

void TransferJob::fail(const APIError& error) const {
    if (const auto text = uploadRefusalText(error)) return fail(*text);
    fail(error.description(), error.logText());
}

void TransferJob::fail(const std::string& shown, const std::string& logged) const {
    TransferUpdate update;
    if (cancelled()) {
        update.state = TransferState::cancelled();
    } else {
        update.state = TransferState::failed(shown);
        update.log = "传输失败 " + task->fileName + "：" + logged;
    }
    end(std::move(update));
}

void TransferJob::run() const {
    if (!client) {
        TransferUpdate update;
        update.state = TransferState::failed("地址无效");
        end(std::move(update));
        return;
    }
    const APIClient api = client->withSession(session ? session : std::make_shared<CurlSession>());
    const TransferTask& t = *task;
    ChunkSource source(t.sourceURL);
    const double mtime = source.modifiedMs();
    const std::string id = FileID::hash(t.fileName, t.totalSize, mtime, t.relPath);
    const int64_t chunks = chunkCount(t.totalSize);

    // A failed status request counts as nothing held, unless no way led to a receiver
    // reached before: the link is down, and the queue keeps the file for when it is back.
    const auto status = api.uploadStatus(id);
    if (!status.ok() && status.error->unreached && giveBackWhenUnreached) return giveBack(*status.error);
    const bool reachedNow = status.ok() || !status.error->unreached;
    // From here a receiver reached before (or just now) that stops answering mid-file is a
    // link gone down too: the file waits with the others and resumes from what it holds.
    const auto failOrGiveBack = [&](const APIError& error) {
        if (error.unreached && (reachedNow || giveBackWhenUnreached)) return giveBack(error);
        fail(error);
    };
    if (reachedNow) {
        TransferUpdate update;
        update.reached = true;
        report(std::move(update));
    }
    const std::set<int64_t> held = status.ok() ? heldChunks(status.value, t.totalSize) : std::set<int64_t>{};
    int64_t sent = 0;
    if (!held.empty()) {
        const auto n = int64_t(held.size());
        sent = std::min(n * kChunkSize, t.totalSize);
        TransferUpdate update;
        update.resumedChunks = int(n);
        update.sent = sent;
        update.log = "续传 " + t.fileName + "：已有 " + std::to_string(n) + "/" + std::to_string(chunks) + " 块";
        report(std::move(update));
    }

    const nlohmann::json meta{{"name", t.fileName}, {"rel", t.relPath}, {"size", t.totalSize},
                              {"chunks", chunks}, {"mtime", int64_t(mtime)}};
    if (const auto error = api.putMeta(id, meta)) return failOrGiveBack(*error);

    TransferSpeed speed(clock, sent);
    // Heard on this thread while a chunk goes out: a chunk whose bytes stopped moving
    // shows no speed rather than the one before.
    const auto watchChunk = [this, &speed](int64_t chunkBytesSent) {
        if (!speed.stalls(chunkBytesSent)) return;
        TransferUpdate update;
        update.speed = 0;
        report(std::move(update));
    };
    for (int64_t i = 0; i < chunks; ++i) {
        if (cancelled()) {
            TransferUpdate update;
            update.state = TransferState::cancelled();
            return end(std::move(update));
        }
        if (held.count(i)) continue;
        const int64_t offset = i * kChunkSize;
        // An empty file goes as one empty chunk 0: the receiver refuses to finish without a chunk.
        const int64_t length = std::max<int64_t>(0, std::min(kChunkSize, t.totalSize - offset));
        const Result<FileSlice> chunk = source.slice(offset, length);
        if (!chunk) return fail(chunk.refusal());
        speed.chunkBegins();
        if (const auto error = api.putChunk(id, i, *chunk, watchChunk)) {
            // A file that got shorter mid-chunk aborts the send; say so rather than the abort.
            const Result<FileSlice> again = source.slice(offset, length);
            return again ? failOrGiveBack(*error) : fail(again.refusal());
        }
        sent += length;
        TransferUpdate update;
        update.sent = sent;
        update.speed = speed.afterChunk(sent);
        report(std::move(update));
    }

    TransferUpdate finishing;
    finishing.state = TransferState::finishing();
    report(std::move(finishing));
    const auto stored = api.finish(id);
    if (!stored.ok()) return failOrGiveBack(*stored.error);

    TransferUpdate done;
    done.state = TransferState::done();
    done.speed = 0;
    done.sent = t.totalSize;
    done.stored = stored.value;
    done.log = "已发送 " + t.fileName + " → " + targetName(t.target);
    end(std::move(done));
}

}  // namespace corvane
