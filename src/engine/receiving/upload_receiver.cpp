// The receiving side of the chunked upload protocol: status, meta, 4 MiB chunks
// stored under .parts/<id>/ (part_folder.h), finish (the chunks become the file in the
// receive folder) and abandon. An unfinished upload lives on disk, so it survives
// restarts; who may change it, and whether a chunk still counts, UploadRecords decides.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/json_fields.h"
#include "base/random_hex.h"
#include "base/transfer_sizes.h"
#include "base/unique_fd.h"
#include "base/whole_files.h"
#include "engine/receiving/finish_note.h"
#include "engine/receiving/lone_chunk.h"
#include "engine/format.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "engine/receiving/part_folder.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr int64_t kMaxIndex = 100000;
constexpr double kAbandonedAfter = 7 * 86400;  // seconds without a change
// The longest meta text a lone upload keeps: it is recorded on its lone file, in an
// extended attribute with the id, the owner and at the finish the reply, which repeats
// the path (ext4 gives all of a file's attributes about 4 KiB).
constexpr size_t kLongestLoneMeta = 1024;

// After a refusal of a streamed chunk: an unread body is drained and the connection
// closed, so that the client reads the reply rather than a reset; without a body the
// connection goes on.
void endUnread(Connection& c) {
    if (c.contentLength > 0) {
        drainBeforeClose(c.fd);
    } else {
        c.handBack = HTTPServer::keepsAlive(c.req);
    }
}

void reached(const ServerOptions& options, FinishStep step) {
    if (options.onFinishStep) options.onFinishStep(step);
}

void refuse(int fd, UploadRefusal refusal) {
    switch (refusal) {
    case UploadRefusal::notFound: sendJSON(fd, 404, errorJSON("upload not found")); return;
    case UploadRefusal::forbidden: sendJSON(fd, 403, errorJSON("forbidden")); return;
    case UploadRefusal::busy: sendJSON(fd, 503, errorJSON("busy")); return;
    case UploadRefusal::failed: sendJSON(fd, 500, errorJSON("write failed")); return;
    case UploadRefusal::none: return;
    }
}

// A failed write answered as the storage's fault when it is one: 503 when the receive
// folder cannot be reached, 507 when it is full (told by the error, or by a look at the
// folder when the error was lost); false when the storage answers and the caller replies.
bool answeredAsStorage(Connection& c, int error) { return answeredAsStorageFault(c, error) || !storageAnswers(c); }

// The chunk index as a decimal number; -1 (refused later) when it does not fit,
// so that an overlong index can never overwrite chunk 0.
int64_t chunkIndex(const std::string& digits) { return parseIntText(digits).value_or(-1); }

bool validID(const std::string& id) {
    if (id.size() < 8 || id.size() > 40) return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

nlohmann::json readMeta(const fs::path& folder) {
    const FileRead file = readWholeFile(folder / kMetaFile);
    if (!file.readable) return nullptr;
    nlohmann::json meta = nlohmann::json::parse(file.bytes, nullptr, false);
    return meta.is_discarded() ? nlohmann::json(nullptr) : meta;
}

// The meta's "rel" when it is a non-empty text, else its "name" when it is a text.
std::string wantedPath(const nlohmann::json& meta) {
    const auto rel = meta.find("rel");
    if (rel != meta.end() && rel->is_string() && !rel->get<std::string>().empty()) return rel->get<std::string>();
    const auto name = meta.find("name");
    if (name != meta.end() && name->is_string()) return name->get<std::string>();
    return "";
}

std::string lastComponent(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') --end;
    const size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    const size_t begin = (slash == std::string::npos || end == 0) ? 0 : slash + 1;
    return path.substr(begin, end - begin);
}

// The meta's "size" when it is a JSON number.
std::optional<int64_t> metaSize(const nlohmann::json& meta) {
    const auto size = meta.find("size");
    if (size == meta.end() || !size->is_number()) return std::nullopt;
    return Fields(meta).i64("size");
}

// The file's size when the meta announces a file of one chunk and is short enough to be
// kept with its lone file; such an upload needs no part folder.
std::optional<int64_t> loneSize(const nlohmann::json& meta, const std::string& stored) {
    if (!meta.is_object() || stored.size() > kLongestLoneMeta) return std::nullopt;
    const auto size = metaSize(meta);
    if (!size || *size < 0 || *size > kChunkSize) return std::nullopt;
    return size;
}

nlohmann::json parsedMeta(const std::string& text) {
    nlohmann::json meta = nlohmann::json::parse(text, nullptr, false);
    return meta.is_discarded() ? nlohmann::json(nullptr) : meta;
}

// Links the file into the opened folder under the first free name, told to `beforeLink`
// first (false: nothing is linked). Where the folder takes no link to it (another file
// system, or one without hard links) the file is moved instead. The name, or none.
std::optional<std::string> linkUnique(const fs::path& file, int folder, const std::string& name,
                                      const std::function<bool(const std::string&)>& beforeLink) {
    for (int n = 0; n < 10000; ++n) {
        const std::string candidate = numberedName(name, n);
        if (!beforeLink(candidate)) return std::nullopt;
        if (::linkat(AT_FDCWD, file.c_str(), folder, candidate.c_str(), 0) == 0) return candidate;
        if (errno == EXDEV || errno == EPERM || errno == ENOTSUP) {
            return moveUnique(file, pathOf(UniqueFd(::dup(folder))), name, beforeLink);
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

// A receive task shows the name and size the upload's meta gives.
void nameTask(ReceiveTask& task, const nlohmann::json& meta) {
    if (!meta.is_object()) return;
    const std::string name = lastComponent(wantedPath(meta));
    task.name = name.empty() ? "文件" : name;
    task.size = metaSize(meta).value_or(0);
}

// A finish only joins an upload it holds whole: chunks 0, 1, ... without a gap,
// and as many bytes as the meta announced. The file's size, or none.
std::optional<int64_t> wholeSize(const std::vector<HeldChunk>& sorted, const nlohmann::json& meta) {
    int64_t total = 0;
    for (size_t k = 0; k < sorted.size(); ++k) {
        const auto length = chunkLength(sorted[k]);
        if (sorted[k].index != int64_t(k) || !length) return std::nullopt;
        total += *length;
    }
    const auto announced = metaSize(meta);
    if (announced && *announced != total) return std::nullopt;
    return total;
}

// A finish works on its own claim of the part folder, moved aside once no chunk writes
// into it any more, so of two finishes of one upload only one can join it. A finish that
// fails before the file is stored gives the folder back for a retry.
class PartClaim {
public:
    PartClaim(UploadRecords& uploads, fs::path parts, std::string id, const std::string& peerIP)
        : uploads_(uploads), parts_(std::move(parts)), id_(std::move(id)), claim_(uploads.claimForFinish(parts_, id_, peerIP)) {}
    ~PartClaim() {
        if (held()) uploads_.returnClaim(parts_, id_, claim_.folder);
        if (heldLone()) uploads_.returnLoneClaim(parts_, id_);
    }
    PartClaim(const PartClaim&) = delete;
    PartClaim& operator=(const PartClaim&) = delete;

    bool held() const { return claim_.refusal == UploadRefusal::none && !claim_.folder.empty(); }
    // A lone upload's claim: no folder, its meta and lone file.
    bool heldLone() const { return claim_.refusal == UploadRefusal::none && claim_.lone && !finished_; }
    const std::string& loneMeta() const { return claim_.meta; }
    const fs::path& loneFile() const { return claim_.loneFile; }
    int64_t loneBytes() const { return claim_.loneBytes; }
    UploadRefusal refusal() const { return claim_.refusal; }
    const fs::path& folder() const { return claim_.folder; }
    // The reply of the finish that stored the upload, heard again; empty for a claim.
    const std::string& storedReply() const { return claim_.storedReply; }
    // With a stored reply read at start: the folder of its note, emptied once it is written.
    const fs::path& noteAside() const { return claim_.noteAside; }
    // The upload is stored and answered with `reply`: the folder never comes back; the
    // returned spare is emptied by the caller.
    fs::path finish(const nlohmann::json& reply) {
        fs::path spare = uploads_.endFinished(parts_, id_, claim_.folder, reply.dump());
        claim_.folder.clear();
        finished_ = true;
        return spare;
    }

private:
    bool finished_ = false;
    UploadRecords& uploads_;
    fs::path parts_;
    std::string id_;
    UploadRecords::Claim claim_;
};

}  // namespace

void HTTPServer::uploadStatus(Connection& c) {
    const int fd = c.fd;
    const std::string& id = c.captures.at(0);
    if (!validID(id)) {
        sendJSON(fd, 400, errorJSON("bad id"));
        return;
    }
    // Another address sees what its own meta would keep: nothing.
    const fs::path partsFolder = parts();
    const UploadRecords::View upload = uploads_.view(partsFolder, id, c.peerIP);
    if (upload.lone) {
        const nlohmann::json received = upload.held ? nlohmann::json::array({0}) : nlohmann::json::array();
        sendJSON(fd, 200, {{"exists", true}, {"received", received}, {"chunkSize", kChunkSize}, {"meta", parsedMeta(upload.meta)}});
        return;
    }
    const fs::path folder = partsFolder / id;
    const auto part = upload.owned ? listPartFolder(folder) : std::nullopt;
    if (!part) {
        sendJSON(fd, 200, {{"exists", false}, {"received", nlohmann::json::array()}, {"chunkSize", kChunkSize}});
        return;
    }
    nlohmann::json received = nlohmann::json::array();
    for (const int64_t index : part->received) received.push_back(index);
    sendJSON(fd, 200, {{"exists", true}, {"received", received}, {"chunkSize", kChunkSize}, {"meta", readMeta(folder)}});
}

void HTTPServer::uploadMeta(Connection& c) {
    const int fd = c.fd;
    const std::string& id = c.captures.at(0);
    const std::string_view body = c.req.body;
    const std::string& peerIP = c.peerIP;
    if (!validID(id)) {
        sendJSON(fd, 400, errorJSON("bad id"));
        return;
    }
    // The parser refuses text that is not UTF-8, so what it accepts re-encodes.
    const nlohmann::json meta = nlohmann::json::parse(body, nullptr, false);
    const bool structured = meta.is_object() || meta.is_array();
    const std::string stored = structured ? meta.dump() : "{}";
    // The owner's meta keeps the chunks that came before it; another address's starts
    // the upload afresh once it is quiet (a device whose address changed sends all again).
    const UploadRefusal refusal = uploads_.admitMeta(parts(), id, peerIP, stored, loneSize(meta, stored));
    if (refusal == UploadRefusal::failed && answeredAsStorage(c, errno)) return;
    if (refusal != UploadRefusal::none) {
        refuse(fd, refusal);
        return;
    }

    if (meta.is_object()) {
        withReceiveTask(id, [&](ReceiveTask& task) {
            if (task.from.empty()) task.from = peerIP;
            nameTask(task, meta);
        });
    }
    sendJSON(fd, 200, {{"ok", true}});
}

void HTTPServer::uploadChunk(Connection& c) {
    const int fd = c.fd;
    // The row is streamed: the body is still unread and the gates were not passed.
    // A length no other row would take closes the connection unanswered, as there.
    if (c.contentLength < 0 || c.contentLength > kLargestBody) return;
    if (!passesOriginAndPin(fd, c.req, routes().factsFor(c.req.path))) {
        endUnread(c);
        return;
    }
    const std::string& id = c.captures.at(0);
    const int64_t index = chunkIndex(c.captures.at(1));
    const std::string& peerIP = c.peerIP;
    if (!validID(id) || index < 0 || index > kMaxIndex) {
        sendJSON(fd, 400, errorJSON("bad id/index"));
        endUnread(c);
        return;
    }
    // A chunk may come first: then its sender becomes the owner.
    const fs::path partsFolder = parts();
    UploadRecords::ChunkStart start = uploads_.beginChunk(partsFolder, id, index, c.contentLength, peerIP, fd);
    if (!start.chunk) {
        if (start.refusal == UploadRefusal::failed && answeredAsStorage(c, errno)) return;
        refuse(fd, start.refusal);
        endUnread(c);
        return;
    }
    // A chunk counts whole or not at all, also when the body is cut short (that
    // connection just ends) or the upload moved on meanwhile (its connection was shut).
    if (size_t(c.contentLength) > c.bodyStart.size()) continueIfExpected(fd, c.req);
    PendingChunk pending;
    UploadRecords::Chunk& chunk = *start.chunk;
    const ChunkBody body{c.fd, c.bodyStart, c.contentLength, c.pace, [&chunk] { chunk.heard(); }};
    const ChunkWrite written = chunk.lone() ? writeLoneChunk(partsFolder, body, pending)
                                            : writeChunk(chunk.folder(), index, body, pending);
    if (written == ChunkWrite::cutShort) return;
    auto put = UploadRecords::Chunk::Put::failed;
    int error = errno;
    if (written == ChunkWrite::written) {
        put = chunk.lone() ? chunk.putLone(c.contentLength, pending)
                           : chunk.put(c.contentLength, [&] { return putChunk(pending); });
        error = errno;
    }
    if (put != UploadRecords::Chunk::Put::counted && chunk.lone()) discardLoneChunk(pending);
    if (put != UploadRecords::Chunk::Put::counted && !chunk.lone()) discardChunk(pending);
    start.chunk.reset();  // out of flight before the reply: nothing ends it while it is answered
    if (put == UploadRecords::Chunk::Put::dropped) return;
    if (put == UploadRecords::Chunk::Put::failed) {
        if (answeredAsStorage(c, error)) return;
        sendJSON(fd, 500, errorJSON("write failed"));
        drainBeforeClose(fd);
        return;
    }
    const double at = now();
    const int64_t length = c.contentLength;
    withReceiveTask(id, [&](ReceiveTask& task) {
        if (task.from.empty()) task.from = peerIP;
        const double dt = at - task.lastChunkAt;
        if (task.lastChunkAt > 0 && dt > 0.05) {
            const double rate = double(length) / dt;
            task.speed = task.speed > 0 ? 0.5 * task.speed + 0.5 * rate : rate;
        }
        task.lastChunkAt = at;
        task.received += length;
    }, [&](ReceiveTask& task) { nameTask(task, readMeta(partsFolder / id)); });
    sendJSON(fd, 200, {{"ok", true}, {"index", index}, {"bytes", length}});
    c.handBack = keepsAlive(c.req);
}

void HTTPServer::uploadFinish(Connection& c) {
    const std::string& id = c.captures.at(0);
    if (!validID(id)) {
        sendJSON(c.fd, 400, errorJSON("bad id"));
        return;
    }
    // A refused finish gives its claim back before the reply, so a client that hears
    // the answer finds the part folder where it expects it. A stored upload's chunks
    // go after the reply: nothing finds them under their claimed name meanwhile.
    const JSONReply reply = joinUpload(id, c.peerIP);
    if (reply.status == 500 && answeredAsStorage(c, reply.error)) return;
    sendJSON(c.fd, reply.status, reply.body);
    if (reply.spentFolder.empty()) return;
    c.afterReply = [this, spent = reply.spentFolder] {
        reached(options_, FinishStep::answered);
        uploads_.keepSpare(spent);
    };
}

HTTPServer::JSONReply HTTPServer::failedReply(const char* text) {
    JSONReply reply{500, errorJSON(text)};
    reply.error = errno;
    return reply;
}

HTTPServer::JSONReply HTTPServer::joinUpload(const std::string& id, const std::string& peerIP) {
    const ReceiveDirs dirs = receiveDirs();
    const fs::path& receiveFolder = dirs.root;
    PartClaim claim(uploads_, dirs.parts, id, peerIP);
    if (claim.refusal() == UploadRefusal::forbidden) return {403, errorJSON("forbidden")};
    if (!claim.storedReply().empty()) return {200, nlohmann::json::parse(claim.storedReply()), claim.noteAside()};
    // A lone upload's file is its one chunk as it is; any other is joined from its part folder.
    const bool lone = claim.heldLone();
    const auto part = claim.held() ? listPartFolder(claim.folder()) : std::nullopt;
    if (!part && !lone) return {404, errorJSON("upload not found")};
    reached(options_, FinishStep::claimed);
    const std::vector<HeldChunk> chunks = part ? part->chunks : std::vector<HeldChunk>();
    if (lone ? claim.loneFile().empty() : chunks.empty()) return {400, errorJSON("no chunks")};
    const nlohmann::json metaRead = lone ? parsedMeta(claim.loneMeta()) : readMeta(claim.folder());
    const nlohmann::json meta = metaRead.is_object() ? metaRead : nlohmann::json::object();
    const auto safe = sanitize(wantedPath(meta));
    if (!safe) return {400, errorJSON("bad stored name")};
    if (isPrivateArea(*safe)) return {400, errorJSON("bad path")};
    const auto size = lone ? std::optional<int64_t>(claim.loneBytes()) : wholeSize(chunks, meta);
    if (!size || (lone && metaSize(meta) != size)) return {400, errorJSON("incomplete upload")};

    const auto [folderPart, base] = splitLast(*safe);
    if (!liesInside(receiveFolder, receiveFolder / *safe)) return {400, errorJSON("bad path")};
    // Made and opened piece by piece without following links: a link inside the
    // receive folder never leads the file out of it.
    const UniqueFd parentFolder = openFolderBeneath(receiveFolder, folderPart, true);
    if (!parentFolder) return errno == ELOOP ? JSONReply{400, errorJSON("bad path")} : failedReply("open failed");
    const fs::path parent = pathOf(parentFolder);

    // Built inside the part folder and moved in under a free name: the receive folder
    // never shows a half-built file, and a file that took the name meanwhile is never
    // replaced. A failure leaves no partial file; the part folder comes back for a retry.
    const AssembledFile built = lone ? AssembledFile{AssembledFile::Outcome::built, claim.loneFile(), false}
                                     : assembleChunks(claim.folder(), chunks);
    if (built.outcome == AssembledFile::Outcome::openFailed) return failedReply("open failed");
    if (built.outcome == AssembledFile::Outcome::mergeFailed) return failedReply("merge failed");
    reached(options_, FinishStep::built);
    const double doneAt = now();
    const double t = doneAt * 1000.0;
    const std::string& folderOfFile = folderPart;  // a lambda may not name a structured binding
    const auto replyFor = [&](const std::string& name) {
        const std::string relPath = folderOfFile.empty() ? name : folderOfFile + "/" + name;
        return nlohmann::json{{"ok", true}, {"p", relPath}, {"n", name}, {"s", *size}, {"t", t}};
    };
    // Noted before each try of a name, so that a kill once the file has left the part
    // folder never brings the claim back at start, and the noted reply answers the
    // finish heard again. A lone file is noted on itself and linked: its own name stays,
    // and says it was stored, until the reply is written.
    const auto noteBefore = [&](const std::string& candidate) {
        const std::string reply = replyFor(candidate).dump();
        const bool noted = lone ? recordLone(built.path, LoneRecord{id, peerIP, claim.loneMeta(), reply, doneAt})
                                : noteFinish(claim.folder(), FinishNote{id, peerIP, built.path.filename().string(), reply, doneAt});
        if (noted) reached(options_, FinishStep::noted);
        return noted;
    };
    const auto name = lone ? linkUnique(built.path, parentFolder.get(), base, noteBefore)
                           : moveUnique(built.path, parent, base, noteBefore);
    if (!name) {
        JSONReply failed = failedReply("open failed");
        if (!lone) forgetFinishNote(claim.folder());  // before the file it names can go
        if (built.joinedAside) ::unlink(built.path.c_str());
        return failed;
    }
    reached(options_, FinishStep::stored);
    nlohmann::json stored = replyFor(*name);
    const std::string relPath = stored["p"].get<std::string>();
    fs::path spentFolder = claim.finish(stored);
    reached(options_, FinishStep::setAside);
    withReceiveTask(id, [&](ReceiveTask& task) {
        if (task.from.empty()) task.from = peerIP;
        if (task.name.empty()) nameTask(task, metaRead);  // made again, or by a chunk that found no meta
        task.received = *size;
        task.speed = 0;
        task.state = "已完成";
        task.doneAt = doneAt;
    });
    emit(ServerEvent::fileReceived(FileItem{relPath, *name, *size, t}));
    emit(ServerEvent::log("接收完成：" + relPath + "（" + humanSize(*size) + "）"));
    return {200, std::move(stored), std::move(spentFolder)};
}

void HTTPServer::routeDeleteUpload(Connection& c) {
    const UploadRefusal refusal = uploads_.cancel(parts(), c.captures.at(0), c.peerIP);
    if (refusal != UploadRefusal::none) {
        refuse(c.fd, refusal);
        return;
    }
    sendJSON(c.fd, 200, {{"ok", true}});
}

void HTTPServer::removeAbandonedUploads() { uploads_.open(parts(), kAbandonedAfter); }

}  // namespace corvane
