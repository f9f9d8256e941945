// Progress records of incoming uploads, kept under the receive lock, listed in
// creation order and dropped 8 s after they finished.

#include <algorithm>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

constexpr double kKeepFinished = 8.0;  // seconds

// Makes room for one more task: the oldest finished one leaves first, else the oldest.
void dropOldestTask(std::unordered_map<std::string, ReceiveTask>& tasks, std::vector<std::string>& order) {
    auto victim = std::find_if(order.begin(), order.end(), [&](const std::string& id) { return tasks.at(id).doneAt != 0; });
    if (victim == order.end()) victim = order.begin();
    tasks.erase(*victim);
    order.erase(victim);
}

nlohmann::json taskJSON(const ReceiveTask& task) {
    return {{"id", task.id},         {"name", task.name},   {"size", task.size},   {"received", task.received},
            {"speed", task.speed},   {"from", task.from},   {"state", task.state}};
}

}  // namespace

void HTTPServer::withReceiveTask(const std::string& id, const std::function<void(ReceiveTask&)>& change,
                                 const std::function<void(ReceiveTask&)>& made) {
    std::lock_guard lock(recvLock_);
    auto it = recvTasks_.find(id);
    if (it == recvTasks_.end()) {
        // A task dropped for room and made again by a later chunk or the finish keeps the
        // name and size its meta gave.
        if (recvOrder_.size() >= std::max<size_t>(options_.maxReceiveTasks, 1)) dropOldestTask(recvTasks_, recvOrder_);
        it = recvTasks_.emplace(id, ReceiveTask(id)).first;
        recvOrder_.push_back(id);
        if (made) made(it->second);
    }
    change(it->second);
}

std::vector<ReceiveTask> HTTPServer::receiveTasksSnapshot() {
    std::lock_guard lock(recvLock_);
    const double at = now();
    std::erase_if(recvTasks_, [at](const auto& entry) {
        const double doneAt = entry.second.doneAt;
        return doneAt != 0 && at - doneAt >= kKeepFinished;
    });
    std::erase_if(recvOrder_, [this](const std::string& id) { return !recvTasks_.count(id); });
    std::vector<ReceiveTask> out;
    out.reserve(recvOrder_.size());
    for (const auto& id : recvOrder_) out.push_back(recvTasks_.at(id));
    return out;
}

void HTTPServer::routeReceiveTasks(Connection& c) {
    const int fd = c.fd;
    nlohmann::json tasks = nlohmann::json::array();
    for (const auto& task : receiveTasksSnapshot()) tasks.push_back(taskJSON(task));
    sendJSON(fd, 200, {{"tasks", tasks}});
}

}  // namespace corvane
