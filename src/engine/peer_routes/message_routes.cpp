// Texts and chat from other devices: POST /api/text (a text file, or a read-once
// note kept in memory), POST /api/chat and POST /api/chat/burn.

#include <algorithm>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "base/file_names.h"
#include "base/text_util.h"
#include "base/unicode_text.h"
#include "base/whole_files.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

constexpr size_t kMaxTextBytes = 4194304;
constexpr size_t kMaxChatCharacters = 4000;
// One grapheme can be megabytes long: a message is also cut to 16 KiB of UTF-8.
constexpr size_t kMaxChatBytes = 16384;

// Nothing but white space and line ends (the Unicode White_Space set).
bool isBlank(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = int32_t(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) return false;
    }
    return true;
}

// The read-once flag: "1", "true" or "yes" in any case, or a non-zero number or true.
bool burnFlag(const nlohmann::json& body) {
    const auto it = body.find("burn");
    if (it == body.end()) return false;
    if (it->is_string()) {
        const std::string word = lowerASCII(it->get<std::string>());
        return word == "1" || word == "true" || word == "yes";
    }
    if (it->is_boolean()) return it->get<bool>();
    if (it->is_number()) return it->get<double>() != 0;
    return false;
}

nlohmann::json parseObject(std::string_view body) {
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json();
}

std::string textField(const nlohmann::json& obj, const char* key, const std::string& fallback = "") {
    const auto it = obj.find(key);
    return it != obj.end() && it->is_string() ? it->get<std::string>() : fallback;
}

}  // namespace

void HTTPServer::routeText(Connection& c) {
    const int fd = c.fd;
    const HTTPReq& req = c.req;
    const std::string& peerIP = c.peerIP;
    const nlohmann::json body = parseObject(req.body);
    const auto text = body.is_object() ? body.find("text") : body.end();
    if (!body.is_object() || text == body.end() || !text->is_string() || isBlank(text->get<std::string>())) {
        sendJSON(fd, 400, errorJSON("empty text"));
        return;
    }
    const std::string& content = text->get_ref<const std::string&>();
    if (content.size() > kMaxTextBytes) {
        sendJSON(fd, 413, errorJSON("文字过长，请改为发送文件"));
        return;
    }
    const int64_t size = int64_t(content.size());
    const double t = now() * 1000.0;

    if (burnFlag(body)) {
        const auto id = storeBurn(content, peerIP);
        if (!id) {
            sendJSON(fd, 503, errorJSON("一次性消息太多，请稍后再试"));
            return;
        }
        emit(ServerEvent::burnText(*id, content, peerIP));
        sendJSON(fd, 200, {{"ok", true}, {"burn", true}, {"id", *id}, {"n", "一次性消息"}, {"s", size}, {"t", t}});
        return;
    }

    // Stored whole under a free name: two texts of one second never overwrite each other.
    const auto name = storeNewFile(root(), "剪贴板-" + timestampString() + ".txt", content);
    if (!name) {
        sendJSON(fd, 500, errorJSON("write failed"));
        return;
    }
    emit(ServerEvent::textReceived(FileItem{*name, *name, size, t}));
    sendJSON(fd, 200, {{"ok", true}, {"p", *name}, {"n", *name}, {"s", size}, {"t", t}});
}

void HTTPServer::routeChat(Connection& c) {
    const int fd = c.fd;
    const HTTPReq& req = c.req;
    const nlohmann::json body = parseObject(req.body);
    if (!body.is_object()) {
        sendJSON(fd, 400, errorJSON("bad json"));
        return;
    }
    const std::string text = textField(body, "text");
    if (text.empty()) {
        sendJSON(fd, 400, errorJSON("empty"));
        return;
    }
    if (onEvent) {
        const auto ts = body.find("ts");
        const double when = ts != body.end() && ts->is_number() ? ts->get<double>() : now() * 1000.0;
        emit(ServerEvent::chat(textField(body, "id"), textField(body, "from"), textField(body, "fromName"),
                               textField(body, "to", "all"), graphemePrefixBytes(graphemePrefix(text, kMaxChatCharacters), kMaxChatBytes),
                               burnFlag(body), when));
    }
    sendJSON(fd, 200, {{"ok", true}});
}

void HTTPServer::routeChatBurn(Connection& c) {
    const int fd = c.fd;
    const HTTPReq& req = c.req;
    const nlohmann::json body = parseObject(req.body);
    const std::string id = body.is_object() ? textField(body, "id") : "";
    if (!id.empty()) emit(ServerEvent::chatBurn(id));
    sendJSON(fd, 200, {{"ok", true}});
}

}  // namespace corvane
