#pragma once
// What the server hands to the central storage extension: the streamed uploads,
// WebDAV, the team routes and the NAS file API. The server owns one set of hooks;
// StubStorageHooks answers until the extension is linked in.

#include <cstdint>
#include <string>

#include "engine/http_request.h"

namespace corvane {

class HTTPServer;

class StorageHooks {
public:
    virtual ~StorageHooks() = default;

    // PUT /api/fs/upload: reads the rest of the body itself and writes one reply.
    virtual void streamUpload(HTTPServer& server, int fd, const HTTPReq& req, const std::string& bodyStart,
                              int64_t contentLength, const std::string& peerIP) = 0;
    // PUT /api/tf/up: the same for the team storage.
    virtual void streamTeamUpload(HTTPServer& server, int fd, const HTTPReq& req, const std::string& bodyStart,
                                  int64_t contentLength) = 0;
    // One WebDAV request on /dav or below it.
    virtual void davRoute(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    // True when the team routes answered the request themselves.
    virtual bool teamRoute(HTTPServer& server, int fd, const HTTPReq& req, const std::string& peerIP) = 0;

    virtual void fsList(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void fsMkdir(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void fsRename(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void fsDelete(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void trashList(HTTPServer& server, int fd) = 0;
    virtual void trashRestore(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void trashDelete(HTTPServer& server, int fd, const HTTPReq& req) = 0;
    virtual void trashEmpty(HTTPServer& server, int fd) = 0;
};

// Answers every storage request with 404 {"error":"not found"}; the team routes pass.
class StubStorageHooks : public StorageHooks {
public:
    void streamUpload(HTTPServer&, int fd, const HTTPReq&, const std::string&, int64_t, const std::string&) override;
    void streamTeamUpload(HTTPServer&, int fd, const HTTPReq&, const std::string&, int64_t) override;
    void davRoute(HTTPServer&, int fd, const HTTPReq&) override;
    bool teamRoute(HTTPServer&, int, const HTTPReq&, const std::string&) override { return false; }
    void fsList(HTTPServer&, int fd, const HTTPReq&) override;
    void fsMkdir(HTTPServer&, int fd, const HTTPReq&) override;
    void fsRename(HTTPServer&, int fd, const HTTPReq&) override;
    void fsDelete(HTTPServer&, int fd, const HTTPReq&) override;
    void trashList(HTTPServer&, int fd) override;
    void trashRestore(HTTPServer&, int fd, const HTTPReq&) override;
    void trashDelete(HTTPServer&, int fd, const HTTPReq&) override;
    void trashEmpty(HTTPServer&, int fd) override;
};

}  // namespace corvane
