#include "engine/storage_hooks.h"

#include "engine/http_response.h"

namespace corvane {

static void notFound(int fd) { sendJSON(fd, 404, errorJSON("not found")); }

void StubStorageHooks::streamUpload(HTTPServer&, int fd, const HTTPReq&, const std::string&, int64_t,
                                    const std::string&) {
    notFound(fd);  // the server closes the connection afterwards, so the body needs no reading
}
void StubStorageHooks::streamTeamUpload(HTTPServer&, int fd, const HTTPReq&, const std::string&, int64_t) {
    notFound(fd);
}
void StubStorageHooks::davRoute(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::fsList(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::fsMkdir(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::fsRename(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::fsDelete(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::trashList(HTTPServer&, int fd) { notFound(fd); }
void StubStorageHooks::trashRestore(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::trashDelete(HTTPServer&, int fd, const HTTPReq&) { notFound(fd); }
void StubStorageHooks::trashEmpty(HTTPServer&, int fd) { notFound(fd); }

}  // namespace corvane
