#include "engine/sending/transfer_task.h"

#include "base/random_hex.h"

namespace corvane {

namespace {

// A random (version 4) UUID in its usual text form.
std::string newUUID() {
    std::string hex = randomHex(16);
    hex[12] = '4';
    hex[16] = "89ab"[std::stoi(hex.substr(16, 1), nullptr, 16) & 3];
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

}  // namespace

TransferTask::TransferTask(std::string fileName, std::string relPath, int64_t totalSize,
                           std::filesystem::path sourceURL, std::optional<Peer> target)
    : id(newUUID()), fileName(std::move(fileName)), relPath(std::move(relPath)), totalSize(totalSize),
      sourceURL(std::move(sourceURL)), target(std::move(target)) {}

}  // namespace corvane
