#include "engine/sending/transfer_job.h"

#include <algorithm>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/json_fields.h"
#include "base/lan_socket.h"
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

void TransferJob::giveBack(const APIError& error, bool finishUnanswered) const {
    TransferUpdate update;
    if (cancelled()) {
        update.state = TransferState::cancelled();
    } else {
        update.unreached = error;
        update.finishUnanswered = finishUnanswered;
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
    const nlohmann::json meta{{"name", t.fileName}, {"rel", t.relPath}, {"size", t.totalSize},
                              {"chunks", chunks}, {"mtime", int64_t(mtime)}};
    const APIResult<PipeRequest> metaRequest = api.metaRequest(id, meta);

    UploadPipe pipe = api.uploadPipe();
    if (t.totalSize <= unpacedBytes) pipe.carrySmallFile();
    // Read when a request fails: another transfer may have heard the receiver meanwhile.
    const auto answeredBefore = [this] { return receiverAnswered && receiverAnswered->load(); };
    const auto heard = [this] {
        if (receiverAnswered) receiverAnswered->store(true);
        TransferUpdate update;
        update.reached = true;
        report(std::move(update));
    };
    if (t.finishUnanswered) {
        const APIResult<FileItem> last = finishOfLastTry(api, pipe, id);
        const bool unreached = !last.ok() && last.error->unreached;
        if (!unreached) heard();
        if (last.ok()) return stored(last.value);
        if (unreached && answeredBefore()) return giveBack(*last.error, true);
        // Else no such upload, or not whole: it goes from the start.
    }
    // A file of one chunk goes whole before any reply is read: status, meta, chunk and
    // finish in one round trip, leaving together. Should the status show the chunk held,
    // it goes again and replaces the same bytes.
    std::vector<UploadStep> steps;
    const Result<FileSlice> wholeFile = source.slice(0, std::max<int64_t>(0, t.totalSize));
    const bool whole = chunks == 1 && metaRequest.ok() && wholeFile;
    PipeRequest statusRequest = api.statusRequest(id);
    statusRequest.followed = whole;
    pipe.send(std::move(statusRequest));
    if (whole) {
        steps = {UploadStep::meta(), UploadStep::chunk(0, t.totalSize), UploadStep::finish()};
        for (UploadStep& step : steps) {
            const bool followed = step.kind != UploadStep::Kind::finish;
            sendStep(api, pipe, step, id, metaRequest.value, *wholeFile, {}, followed);
        }
    }

    // A failed status request counts as nothing held, unless no way led to a receiver
    // reached before: the link is down, and the queue keeps the file for when it is back.
    const auto status = APIClient::statusReply(pipe.reply());
    if (!status.ok() && status.error->unreached && answeredBefore()) return giveBack(*status.error, whole);
    const bool reachedNow = status.ok() || !status.error->unreached;
    if (reachedNow) heard();
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
    if (!metaRequest.ok()) return fail(*metaRequest.error);
    if (steps.empty()) {
        steps.push_back(UploadStep::meta());
        for (int64_t i = 0; i < chunks; ++i) {
            const int64_t offset = i * kChunkSize;
            // An empty file goes as one empty chunk 0: the receiver refuses to finish without a chunk.
            if (!held.count(i)) steps.push_back(UploadStep::chunk(i, std::max<int64_t>(0, std::min(kChunkSize, t.totalSize - offset))));
        }
        steps.push_back(UploadStep::finish());
    }
    // From here a receiver reached before (or just now) that stops answering mid-file is a
    // link gone down too: the file waits with the others and resumes from what it holds.
    runSteps(api, pipe, steps, id, metaRequest.value, source, std::min(sent, t.totalSize),
             reachedNow || answeredBefore());
}

namespace {

// Whether the next step may go now: pipelined, a chunk only while at most one chunk
// before it waits for its reply; else only once every reply before it was read. A finish
// always waits for the replies before it: sent ahead into a link that then goes down, it
// could still reach the receiver and store the file while the queue, having given the
// file back, sends it again as a second copy.
bool mayGo(const UploadPipe& pipe, const std::vector<UploadStep>& steps, size_t next, size_t answered) {
    if (!pipe.pipelined() || steps[next].kind == UploadStep::Kind::finish) return pipe.waiting() == 0;
    if (steps[next].kind != UploadStep::Kind::chunk) return true;
    const auto chunksDue = std::count_if(steps.begin() + long(answered), steps.begin() + long(next),
                                         [](const UploadStep& step) { return step.kind == UploadStep::Kind::chunk; });
    return chunksDue < 2;
}

}  // namespace

void TransferJob::sendStep(const APIClient& api, UploadPipe& pipe, UploadStep& step, const std::string& id,
                           const PipeRequest& metaRequest, const FileSlice& chunk,
                           std::function<void(int64_t)> onSent, bool followed) const {
    step.ahead = pipe.waiting() > 0;
    PipeRequest request;
    switch (step.kind) {
    case UploadStep::Kind::meta: request = metaRequest; break;
    case UploadStep::Kind::chunk: request = api.chunkRequest(id, step.index, chunk, std::move(onSent)); break;
    case UploadStep::Kind::finish: request = api.finishRequest(id); break;
    }
    request.followed = followed;
    pipe.send(std::move(request));
}

std::optional<FileItem> TransferJob::drainAfterRefusal(UploadPipe& pipe, const std::vector<UploadStep>& steps,
                                                       size_t refused) const {
    std::optional<FileItem> item;
    size_t k = refused;
    while (true) {
        pipe.forgetUnsent();  // a connection that closed takes them along: nothing goes again
        if (pipe.waiting() == 0) return item;
        const CurlResult reply = pipe.reply(false);
        if (steps[++k].kind != UploadStep::Kind::finish) continue;
        const auto finished = APIClient::finishReply(reply);
        if (finished.ok()) item = finished.value;
    }
}

APIResult<FileItem> TransferJob::finishOfLastTry(const APIClient& api, UploadPipe& pipe, const std::string& id) const {
    // The receiver keeps a stored finish's reply a while for the same finish heard again,
    // and a finish of an upload it holds whole stores it: either way the file is there
    // once, where a new meta would begin the upload anew and store it a second time.
    pipe.send(api.finishRequest(id));
    return APIClient::finishReply(pipe.reply());
}

void TransferJob::stored(const FileItem& item) const {
    TransferUpdate done;
    done.state = TransferState::done();
    done.speed = 0;
    done.sent = task->totalSize;
    done.stored = item;
    done.log = "已发送 " + task->fileName + " → " + targetName(task->target);
    end(std::move(done));
}

void TransferJob::runSteps(const APIClient& api, UploadPipe& pipe, std::vector<UploadStep>& steps,
                           const std::string& id, const PipeRequest& metaRequest, ChunkSource& source,
                           int64_t sent, bool mayGiveBack) const {
    TransferSpeed speed(clock, sent);
    size_t next = pipe.waiting();  // the steps at the front already went
    const auto failOrGiveBack = [&](const APIError& error) {
        if (error.unreached && mayGiveBack) return giveBack(error, next == steps.size());
        fail(error);
    };
    size_t answered = 0;
    // A chunk stored is told at once, also while the next one goes out.
    const auto chunkStored = [&](const UploadStep& step) {
        sent = std::min(sent + step.length, task->totalSize);
        TransferUpdate update;
        update.sent = sent;
        update.speed = speed.afterChunk(sent);
        report(std::move(update));
        ++answered;
    };
    // A reply that came while a chunk went out, not yet acted on.
    std::optional<CurlResult> early;
    // Heard on this thread while a chunk goes out: a chunk whose bytes stopped moving
    // shows no speed rather than the one before, and the replies of the requests before it
    // are taken as soon as they are in.
    const auto watchChunk = [&](int64_t chunkBytesSent) {
        while (!early && steps[answered].kind != UploadStep::Kind::finish) {
            early = pipe.replyIfReady();
            if (!early || APIClient::acceptedReply(*early)) break;  // a refusal is acted on after the write
            early.reset();
            if (steps[answered].kind == UploadStep::Kind::chunk) {
                chunkStored(steps[answered]);
            } else {
                ++answered;
            }
        }
        if (!speed.stalls(chunkBytesSent)) return;
        TransferUpdate update;
        update.speed = 0;
        report(std::move(update));
    };
    while (answered < steps.size()) {
        if (!early && next < steps.size() && mayGo(pipe, steps, next, answered)) {
            UploadStep& step = steps[next++];
            FileSlice chunk;
            if (step.kind == UploadStep::Kind::chunk) {
                if (cancelled()) {
                    TransferUpdate update;
                    update.state = TransferState::cancelled();
                    return end(std::move(update));
                }
                const Result<FileSlice> slice = source.slice(step.index * kChunkSize, step.length);
                if (!slice) return fail(slice.refusal());
                chunk = *slice;
                speed.chunkBegins();
            }
            sendStep(api, pipe, step, id, metaRequest, chunk, watchChunk);
            continue;
        }
        const UploadStep& step = steps[answered];
        if (step.kind == UploadStep::Kind::finish) {
            TransferUpdate finishing;
            finishing.state = TransferState::finishing();
            report(std::move(finishing));
        }
        const CurlResult reply = early ? *std::exchange(early, std::nullopt) : pipe.reply();
        APIResult<FileItem> finished;
        const std::optional<APIError> error = step.kind == UploadStep::Kind::finish
                                                  ? (finished = APIClient::finishReply(reply)).error
                                                  : APIClient::acceptedReply(reply);
        if (!error && step.kind == UploadStep::Kind::finish) return stored(finished.value);
        if (!error) {
            if (step.kind == UploadStep::Kind::chunk) {
                chunkStored(step);
            } else {
                ++answered;
            }
            continue;
        }
        // Refused though sent ahead: the receiver may not keep up with requests sent before
        // their turn. Once the replies behind it are in, it goes again on its own, and
        // every request after it waits for the reply before.
        if (step.ahead && pipe.pipelined() && error->kind == APIError::Kind::http) {
            if (const auto item = drainAfterRefusal(pipe, steps, answered)) return stored(*item);
            pipe.oneAtATime();
            next = answered;
            continue;
        }
        if (step.kind != UploadStep::Kind::chunk) return failOrGiveBack(*error);
        // A file that got shorter mid-chunk aborts the send; say so rather than the abort.
        const Result<FileSlice> again = source.slice(step.index * kChunkSize, step.length);
        return again ? failOrGiveBack(*error) : fail(again.refusal());
    }
}

}  // namespace corvane
