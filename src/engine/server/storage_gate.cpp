#include "engine/server/storage_gate.h"

#include <cerrno>
#include <cstring>

#include "base/cfg.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

StorageWatch& StorageWatch::shared() {
    static StorageWatch watch([](const std::string& line) { bootLog(line); });
    return watch;
}

void StorageWatch::note(const std::string& folder, StorageFault fault, int error) {
    std::lock_guard hold(lock_);
    const bool down = fault == StorageFault::unreachable;
    if (down == down_) return;
    down_ = down;
    log_(down ? "存储无法访问：" + folder + "（" + std::strerror(error) + "）" : "存储已恢复：" + folder);
}

void replyStorageFault(Connection& c, StorageFault fault, FaultReply style) {
    const bool full = fault == StorageFault::full;
    const int status = full ? 507 : 503;
    const char* text = full ? storageFullText : storageUnreachableText;
    if (style == FaultReply::dav) {
        respond(c.fd, status, {{"Content-Type", "text/plain; charset=utf-8"}}, text, c.req.method == "HEAD");
    } else {
        sendJSON(c.fd, status, errorJSON(text));
    }
    // A streamed request's body is left unread: drained so that the client reads the reply.
    if (c.contentLength > 0) drainBeforeClose(c.fd);
}

bool storageAnswers(Connection& c, FaultReply style) {
    const std::string folder = c.server.root().string();
    errno = 0;
    const StorageFault fault = probeStorage(folder);
    StorageWatch::shared().note(folder, fault, errno);
    if (fault == StorageFault::none) return true;
    replyStorageFault(c, fault, style);
    return false;
}

bool answeredAsStorageFault(Connection& c, int error, FaultReply style) {
    const StorageFault fault = storageFaultOf(error);
    if (fault == StorageFault::none) return false;
    // A full disk still answers: only an unreachable one is a fault the log notes.
    StorageWatch::shared().note(c.server.root().string(), fault, error);
    replyStorageFault(c, fault, style);
    return true;
}

RouteHandler onStorage(RouteHandler handler, FaultReply style) {
    return [handler = std::move(handler), style](Connection& c) {
        if (storageAnswers(c, style)) handler(c);
    };
}

}  // namespace corvane
