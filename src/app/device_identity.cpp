#include "app/device_identity.h"

#include <QUuid>

#include "base/random_hex.h"
#include "base/unicode_text.h"
#include "base/whole_files.h"
#include "storage/team_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

std::string trimWhitespace(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

std::string newDeviceID() { return QUuid::createUuid().toString(QUuid::Id128).toStdString(); }

std::string loadDeviceID(const fs::path& appSupport) {
    const fs::path file = appSupport / "device-id";
    if (const FileRead stored = readWholeFile(file); stored.readable) {
        const std::string id = trimWhitespace(stored.bytes);
        if (graphemeCount(id) >= 8) return id;
    }
    const std::string id = newDeviceID();
    std::error_code ec;
    fs::create_directories(appSupport, ec);
    writeWholeFile(file, id);
    return id;
}

std::string randomToken() { return randomHex(16); }

}  // namespace corvane
