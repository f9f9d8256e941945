// PUT /api/fs/upload?path=<folder>&name=<file>: one file of up to 64 GiB streamed from
// the socket into the receive folder, published as a receive task while it runs.

#include <unistd.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "engine/format.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"
#include "storage/stream_gates.h"
#include "base/upload_body.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr uint64_t kMaxUpload = uint64_t(1) << 36;  // 64 GiB

// A receive task of its own: "web-<secs>", or "web-<secs>-1", "-2", ... when uploads
// that started in the same second hold those. Each id is tested and taken under the
// receive lock; a task another upload holds already carries its name.
std::string claimTask(HTTPServer& server, const std::string& name, int64_t size, const std::string& from) {
    const std::string base = "web-" + std::to_string(int64_t(server.now()));
    for (int n = 0;; ++n) {
        const std::string id = n == 0 ? base : base + "-" + std::to_string(n);
        bool mine = false;
        server.withReceiveTask(id, [&](ReceiveTask& task) {
            if (!task.name.empty()) return;
            mine = true;
            task.name = name;
            task.size = size;
            if (task.from.empty()) task.from = from;
        });
        if (mine) return id;
    }
}

void finishTask(Connection& c, const std::string& id, int64_t received, bool complete) {
    const double end = c.server.now();
    c.server.withReceiveTask(id, [&](ReceiveTask& task) {
        if (task.from.empty()) task.from = c.peerIP;
        task.received = received;
        task.speed = 0;
        task.state = complete ? "已完成" : "中断";
        task.doneAt = end;
    });
}

struct UploadPlace {
    fs::path folder;     // where the file is created
    std::string name;    // the cleaned name, possibly with sub-folders
    std::string folderRel;
};

// The checks in their order, each answering at once without reading the body.
std::optional<UploadPlace> admitUpload(Connection& c) {
    const HTTPReq& req = c.req;
    if (!pinGiven(c.server, req)) {
        refuseStreamed(c, 401, "需要访问口令");
        return std::nullopt;
    }
    if (!originAllowed(c.server, req)) {
        refuseStreamed(c, 403, "跨设备访问需要令牌");
        return std::nullopt;
    }
    if (uint64_t(c.contentLength) > kMaxUpload) {
        refuseStreamed(c, 400, "文件过大");
        return std::nullopt;
    }
    if (!storageAnswers(c)) return std::nullopt;
    const auto name = sanitize(req.param("name"));
    if (!name) {
        refuseStreamed(c, 400, "bad name");
        return std::nullopt;
    }
    const fs::path root = c.server.root();
    const std::string wanted = req.param("path");
    const auto folder = fsTarget(root, wanted);
    const std::string folderRel = wanted.empty() ? "" : sanitize(wanted).value_or("");
    if (!folder || !fsTarget(root, folderRel.empty() ? *name : folderRel + "/" + *name)) {
        refuseStreamed(c, 400, "bad path");
        return std::nullopt;
    }
    return UploadPlace{*folder, *name, folderRel};
}

void streamUpload(Connection& c) {
    const auto place = admitUpload(c);
    if (!place) return;
    continueIfExpected(c.fd, c.req);
    std::error_code ec;
    fs::create_directories(place->folder, ec);  // a failure shows in the open below

    const std::string subFolder = parentOf(place->name);
    const fs::path fileFolder = subFolder.empty() ? place->folder : place->folder / subFolder;
    UniqueFile file = openUnique(fileFolder, lastComponent(place->name));
    if (!file.fd) {
        if (answeredAsStorageFault(c, errno)) return;
        refuseStreamed(c, 500, "open failed");
        return;
    }
    const std::string finalName = subFolder.empty() ? file.name : subFolder + "/" + file.name;
    const std::string taskID = claimTask(c.server, finalName, c.contentLength, c.peerIP);

    const BodyCopy copy = copyBodyToFile(c.fd, c.bodyStart, c.contentLength, file.fd.get(), c.pace);
    const bool writeFailed = copy.end == BodyCopy::End::writeFailed;
    // A partial file is kept: blocks reserved past its bytes are given back with it.
    if (copy.end == BodyCopy::End::cutShort) (void)::ftruncate(file.fd.get(), copy.written);
    const bool closed = file.fd.close();
    if (writeFailed || !closed) {
        // What a failed write (a full disk) left goes before the reply: no truncated
        // file looks whole, and its space is free again.
        ::unlink((fileFolder / file.name).c_str());
        finishTask(c, taskID, copy.written, false);
        if (writeFailed && answeredAsStorageFault(c, copy.error)) return;
        refuseStreamed(c, 500, writeFailed ? "write failed" : "上传中断");
        return;
    }
    // A body the server cut for trickling is an attack on the connection slots, not an
    // interrupted upload to keep: nothing of it stays, and no reply follows.
    if (copy.tooSlow) {
        ::unlink((fileFolder / file.name).c_str());
        finishTask(c, taskID, copy.written, false);
        return;
    }
    const bool complete = copy.end == BodyCopy::End::complete;
    const std::string rel = place->folderRel.empty() ? finalName : place->folderRel + "/" + finalName;
    finishTask(c, taskID, copy.written, complete);
    if (complete) {
        const FileItem item{rel, finalName, copy.written, c.server.now() * 1000.0};
        c.server.emit(ServerEvent::fileReceived(item));
        c.server.emit(ServerEvent::log("网页上传：" + rel + "（" + humanSize(copy.written) + "）"));
    }
    sendJSON(c.fd, 200,
             {{"ok", complete}, {"p", rel}, {"n", finalName}, {"s", copy.written}, {"incomplete", !complete}});
}

}  // namespace

void addNasUploadRoutes(RouteTable& table) {
    table.add(RouteStage::nas,
              Route{{"PUT"}, PathTest::exact("/api/fs/upload"), streamUpload, RouteFacts{.streamed = true}});
}

}  // namespace corvane
