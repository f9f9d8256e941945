#pragma once
// Requests that read or write the server's folder, answered as a storage fault when the
// folder cannot be used (a lost network volume, a failing or full disk) rather than as an
// empty folder or a missing name: 503 when it cannot be reached, 507 when it is full. The
// start and the end of a fault are each noted once in the boot log.

#include <functional>
#include <mutex>
#include <string>

#include "base/storage_fault.h"
#include "engine/server/route_table.h"

namespace corvane {

// JSON {"error": text} for the API and the team page; a plain text for WebDAV clients.
enum class FaultReply { json, dav };

inline constexpr const char* storageUnreachableText = "存储无法访问，请检查存储设备或网络";
inline constexpr const char* storageFullText = "存储空间已满";

// Says when the folder's storage stops and starts answering, once each.
class StorageWatch {
public:
    using LogSink = std::function<void(const std::string&)>;
    explicit StorageWatch(LogSink log) : log_(std::move(log)) {}

    // The process's watch, writing to the boot log.
    static StorageWatch& shared();

    // What a look at the folder found; a change from the last look is logged.
    void note(const std::string& folder, StorageFault fault, int error);

private:
    LogSink log_;
    std::mutex lock_;
    bool down_ = false;
};

// Answers the fault (503 or 507), or nothing when there is none.
void replyStorageFault(Connection& c, StorageFault fault, FaultReply style);

// Looks at the server's folder: true when it answers; else the fault is answered.
bool storageAnswers(Connection& c, FaultReply style = FaultReply::json);

// The same after an operation failed with `error`: true (answered) when it is a fault.
bool answeredAsStorageFault(Connection& c, int error, FaultReply style = FaultReply::json);

// A row's handler run only while the server's folder answers.
RouteHandler onStorage(RouteHandler handler, FaultReply style = FaultReply::json);

}  // namespace corvane
