// Read-once notes: kept in memory only, for at most 10 minutes, served once
// (GET /b/<id> as a page, GET /api/burn/<id> as JSON) and removed by any read.

#include "base/random_hex.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace corvane {

namespace {

constexpr double kLifetime = 600.0;  // seconds

const char* const kPageHead = R"(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1">
<meta name="referrer" content="no-referrer">
<title>一次性消息</title>
<style>
*,*::before,*::after{box-sizing:border-box}
body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;background:#111214;color:#e8e8ea;font:15px/1.7 system-ui,-apple-system,"PingFang SC","Microsoft YaHei",sans-serif;padding:20px}
.card{width:100%;max-width:660px;background:#191b1e;border:1px solid #2a2d31;border-radius:14px;padding:22px}
.top{display:flex;align-items:center;gap:8px;margin-bottom:14px;color:#f0997b;font-size:13px;font-weight:500}
.dot{width:7px;height:7px;border-radius:50%;background:#d85a30;flex:none}
#c{white-space:pre-wrap;word-break:break-word;overflow-wrap:anywhere;background:#101113;border:1px solid #26292d;border-radius:10px;padding:16px;margin:0;font:13px/1.65 ui-monospace,SFMono-Regular,Menlo,Consolas,monospace;max-height:56vh;overflow:auto}
.bar{display:flex;align-items:center;gap:10px;margin-top:14px;font-size:12px;color:#8a8d92}
.bar button{margin-left:auto;background:#2f3338;color:#e8e8ea;border:none;border-radius:8px;padding:8px 14px;font-size:12.5px;cursor:pointer}
.bar button:active{opacity:.7}
</style>
</head>
<body>
<div class="card">
)";

const char* const kPageTail = R"(</div>
</body>
</html>
)";

const char* const kCopyScript = R"(<script>
document.getElementById("b").addEventListener("click", function () {
  var button = this, block = document.getElementById("c");
  function done() { button.textContent = "已复制"; }
  function fallback() {
    var range = document.createRange();
    range.selectNodeContents(block);
    var selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    document.execCommand("copy");
    done();
  }
  if (navigator.clipboard && navigator.clipboard.writeText) {
    navigator.clipboard.writeText(block.innerText).then(done, fallback);
  } else {
    fallback();
  }
});
</script>
)";

std::string escapeHTML(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string notePage(const BurnItem& note) {
    const std::string from = note.from.empty() ? "局域网设备" : note.from;
    std::string page = kPageHead;
    page += "<div class=\"top\"><span class=\"dot\"></span>一次性消息 · 打开即焚</div>\n";
    // The line feed after <pre> is dropped by the HTML parser, so a note that begins
    // with a line feed keeps it.
    page += "<pre id=\"c\">\n" + escapeHTML(note.text) + "</pre>\n";
    page += "<div class=\"bar\">来自 " + escapeHTML(from) +
            " · 服务器已删除这条消息，刷新即失效<button id=\"b\" type=\"button\">复制</button></div>\n";
    page += kCopyScript;
    page += kPageTail;
    return page;
}

std::string expiredPage() {
    std::string page = kPageHead;
    page += "<div class=\"top\"><span class=\"dot\"></span>消息已焚毁</div>\n";
    page += "<p style=\"margin:0;color:#8a8d92;font-size:13px\">这条一次性消息已被查看过，或者已超过 10 分钟有效期。"
            "<br>内容不会留下任何副本。</p>\n";
    page += "<div class=\"bar\">Corvane · 阅后即焚</div>\n";
    page += kPageTail;
    return page;
}

size_t noteBytes(const BurnItem& note) { return note.text.size() + note.from.size(); }

}  // namespace

std::optional<std::string> HTTPServer::storeBurn(const std::string& text, const std::string& from) {
    const std::string id = randomHex(12);
    const double at = now();
    BurnItem note{text, from, at};
    std::lock_guard lock(burnLock_);
    for (auto it = burns_.begin(); it != burns_.end();) {
        if (it->second.at <= at - kLifetime) {
            burnBytes_ -= noteBytes(it->second);
            it = burns_.erase(it);
        } else {
            ++it;
        }
    }
    // A full store refuses the newcomer rather than dropping a note nobody has read.
    // Notes the application still holds in line count too: reading a note through its
    // page must not make room for more copies than the limits allow.
    const BurnLimits& limits = options_.burnLimits;
    const size_t bytes = noteBytes(note);
    size_t notes = burns_.size();
    size_t held = burnBytes_;
    for (const auto& [waiting, waitingBytes] : awaitingDisplay_) {
        if (burns_.count(waiting)) continue;  // one note, counted once
        ++notes;
        held += waitingBytes;
    }
    if (notes >= limits.maxNotes || held + bytes > limits.maxBytes) return std::nullopt;
    burnBytes_ += bytes;
    burns_.emplace(id, std::move(note));
    if (options_.burnsAwaitDisplay) {
        awaitingDisplay_.emplace(id, bytes);
    }
    return id;
}

void HTTPServer::burnShown(const std::string& id) {
    std::lock_guard lock(burnLock_);
    const auto it = awaitingDisplay_.find(id);
    if (it == awaitingDisplay_.end()) return;
    awaitingDisplay_.erase(it);
}

int HTTPServer::burnsAwaitingDisplay() {
    std::lock_guard lock(burnLock_);
    return int(awaitingDisplay_.size());
}

std::optional<BurnItem> HTTPServer::takeBurn(const std::string& id) {
    const double at = now();
    std::lock_guard lock(burnLock_);
    const auto it = burns_.find(id);
    if (it == burns_.end()) return std::nullopt;
    BurnItem note = std::move(it->second);
    burns_.erase(it);
    burnBytes_ -= noteBytes(note);
    if (at - note.at > kLifetime) return std::nullopt;
    return note;
}

void HTTPServer::burnPage(int fd, const std::string& id) {
    const auto note = takeBurn(id);
    if (!note) {
        respond(fd, 404, {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}}, expiredPage());
        return;
    }
    respond(fd, 200,
            {{"Content-Type", "text/html; charset=utf-8"},
             {"Cache-Control", "no-store"},
             {"Referrer-Policy", "no-referrer"}},
            notePage(*note));
}

void HTTPServer::routeBurnRead(Connection& c) {
    const int fd = c.fd;
    const std::string& id = c.captures.at(0);
    const auto note = takeBurn(id);
    if (!note) {
        sendJSON(fd, 404, errorJSON("已焚毁或已过期"));
        return;
    }
    sendJSON(fd, 200, {{"ok", true}, {"text", note->text}, {"from", note->from}});
}

}  // namespace corvane
