// PUT on the WebDAV share, streamed: handed over before its body is read, it makes the
// checks the server's gates would have made, then writes the body to a temporary file
// beside the target and renames it over the target once complete, so a PUT of any size
// needs one buffer and a failed one leaves the old file whole.

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "base/whole_files.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/stream_gates.h"
#include "base/upload_body.h"
#include "storage/webdav_share.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

void drainUnread(const Connection& c) {
    if (c.contentLength > 0) drainBeforeClose(c.fd);
}

// The gates a request to "/dav" passes on the ordinary path: team mode, then the
// cross-origin token.
bool passesServerGates(Connection& c) {
    if (!c.server.nasExtOn()) {
        refuseTeamMode(c.fd);
        drainUnread(c);
        return false;
    }
    if (!originAllowed(c.server, c.req)) {
        sendJSON(c.fd, 403, errorJSON("跨设备访问需要令牌"));
        drainUnread(c);
        return false;
    }
    return true;
}

// Writes the body to a temporary file in the folder and renames it over the target;
// 0 on success, else the errno to report. A body cut short sets `cut` and reports 0.
int storeBody(Connection& c, const fs::path& folder, const fs::path& target, int64_t& written, bool& cut) {
    TempFile temp = createTempFile(folder);
    if (!temp.fd) return errno;
    const BodyCopy copy = copyBodyToFile(c.fd, c.bodyStart, c.contentLength, temp.fd.get(), c.pace);
    written = copy.written;
    int error = 0;
    if (copy.end == BodyCopy::End::writeFailed) {
        error = copy.error;
    } else if (copy.end == BodyCopy::End::cutShort) {
        cut = true;
    } else if (!temp.fd.close() || ::rename(temp.path.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0 || cut) ::unlink(temp.path.c_str());
    return error;
}

}  // namespace

void davPut(Connection& c) {
    if (!passesServerGates(c) || !davCredentialsOK(c) || !storageAnswers(c, FaultReply::dav)) return;
    const auto target = davTarget(c);
    if (!target) return;
    const fs::path folder = target->location.parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        davReply(c, 500, ec.message());
        return;
    }
    struct stat followed {};
    if (target->clean.empty() || (::stat(target->location.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode))) {
        davReply(c, 500, std::strerror(EISDIR));
        return;
    }
    continueIfExpected(c.fd, c.req);
    int64_t written = 0;
    bool cut = false;
    const int error = storeBody(c, folder, target->location, written, cut);
    if (cut) return;  // the client is gone or stalled; its connection closes
    if (error != 0) {
        if (answeredAsStorageFault(c, error, FaultReply::dav)) return;
        davReply(c, 500, std::strerror(error));
        return;
    }
    const FileItem item{target->rel, lastComponent(target->clean), written, c.server.now() * 1000.0};
    c.server.emit(ServerEvent::fileReceived(item));
    davReply(c, 201, "");
}

}  // namespace corvane
