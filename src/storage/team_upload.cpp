// PUT /api/tf/up?scope=&path=&name=: one file streamed from the socket into a team
// space. Handed over before its body is read and past every gate (team mode included),
// so it checks the origin and the session itself; every refusal comes before the body
// is read.

#include <unistd.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/upload_body.h"
#include "engine/format.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/nas_paths.h"
#include "storage/route_families.h"
#include "storage/stream_gates.h"
#include "storage/team_router.h"
#include "storage/team_spaces.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr uint64_t kMaxUpload = uint64_t(1) << 36;  // 64 GiB

struct UploadPlace {
    fs::path folder;     // where the file is created
    std::string prefix;  // the folders of the cleaned name, "" or ending in "/"
    std::string name;    // the file name wanted in that folder
    std::string who;     // the member's display name
};

// The checks in their order, each answered at once without reading the body.
std::optional<UploadPlace> admitUpload(Connection& c, TeamStore& store) {
    // The origin gate of every "/api/" path: a page of another origin, in a member's
    // browser, must not store files with the member's cookie.
    if (!originAllowed(c.server, c.req)) {
        refuseStreamed(c, 403, "跨设备访问需要令牌");
        return std::nullopt;
    }
    if (!storageAnswers(c)) return std::nullopt;
    const fs::path root = c.server.root();
    store.bind(root);
    const std::string token = TeamRouter::tfToken(c.req);
    const std::optional<TeamUser> me = token.empty() ? std::nullopt : store.userForToken(token);
    if (!me) {
        refuseStreamed(c, 401, "请先登录");
        return std::nullopt;
    }
    store.prepareDirs();
    const SpaceQuery query = spaceQuery(c.req);
    const auto place = resolveSpacePath(root, query.scope, me->id, query.path);
    if (!place) {
        refuseStreamed(c, 400, "路径不正确");
        return std::nullopt;
    }
    const auto name = sanitize(c.req.param("name"));
    if (!name) {
        refuseStreamed(c, 400, "文件名不合法");
        return std::nullopt;
    }
    if (uint64_t(c.contentLength) > kMaxUpload) {
        refuseStreamed(c, 400, "文件过大");
        return std::nullopt;
    }
    const std::string sub = parentOf(*name);
    const fs::path folder = sub.empty() ? place->target : place->target / sub;
    if (!realPathBelow(root, folder)) {
        refuseStreamed(c, 400, "路径不正确");
        return std::nullopt;
    }
    std::error_code ec;
    fs::create_directories(place->target, ec);  // a failure shows when the file is created
    return UploadPlace{folder, sub.empty() ? "" : sub + "/", lastComponent(*name), me->name};
}

void streamTeamUpload(Connection& c, TeamStore& store) {
    const auto place = admitUpload(c, store);
    if (!place) return;
    // The free name is chosen and the file created in one exclusive step.
    UniqueFile file = openUnique(place->folder, place->name);
    if (!file.fd) {
        if (answeredAsStorageFault(c, errno)) return;
        refuseStreamed(c, 500, "无法写入");
        return;
    }
    continueIfExpected(c.fd, c.req);
    const BodyCopy copy = copyBodyToFile(c.fd, c.bodyStart, c.contentLength, file.fd.get(), c.pace);
    const bool closed = file.fd.close();
    if (copy.end != BodyCopy::End::complete || !closed) {
        ::unlink((place->folder / file.name).c_str());
        if (copy.end == BodyCopy::End::writeFailed && answeredAsStorageFault(c, copy.error)) return;
        refuseStreamed(c, 500, "上传中断");
        return;
    }
    const std::string stored = place->prefix + file.name;
    c.server.emit(ServerEvent::log(place->who + " 上传 " + stored + "（" + humanSize(copy.written) + "）"));
    sendJSON(c.fd, 200, {{"ok", true}, {"name", stored}, {"size", copy.written}});
}

}  // namespace

void addTeamUploadRoute(RouteTable& table, const StorageContext& context) {
    // The facts also stand for the path's other methods, which the team router answers.
    const RouteFacts facts{.teamGated = true, .pinExempt = true, .streamed = true};
    std::shared_ptr<TeamStore> store = context.store;
    table.add(RouteStage::team, Route{{"PUT"}, PathTest::exact("/api/tf/up"),
                                      [store](Connection& c) { streamTeamUpload(c, *store); }, facts});
}

}  // namespace corvane
