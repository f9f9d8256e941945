#include "app/chat_model.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QString>
#include <array>

#include "base/unicode_text.h"

namespace corvane {

std::string ChatMsg::timeText() const {
    // The time stamp comes from another device: kept within the range of dates before
    // it is turned into an integer.
    constexpr double kLimit = 8.64e15;
    const double when = std::isfinite(ts) ? std::clamp(ts, -kLimit, kLimit) : 0;
    return QDateTime::fromMSecsSinceEpoch(qint64(when)).toString(QStringLiteral("HH:mm")).toStdString();
}

nlohmann::json ChatMsg::toStored() const {
    return {{"id", id}, {"from", from}, {"fromName", fromName}, {"to", to}, {"ts", ts}, {"text", text}, {"mine", mine}};
}

std::string tintFor(const std::string& id) {
    static const std::array<const char*, 8> palette{"blue", "purple", "orange", "green", "pink", "teal", "indigo", "red"};
    if (id.empty()) return palette[0];
    unsigned h = 0;
    for (const char32_t scalar : QString::fromStdString(id).toUcs4()) h = (h * 31 + unsigned(scalar)) % 256;
    return palette[h % 8];
}

std::string chatPreview(const ChatMsg& msg) {
    std::string body;
    if (msg.burn) {
        body = "🔥 阅后即焚消息";  // a read-once text never shows in the list
    } else {
        for (const char c : msg.text) body += (c == '\n') ? ' ' : c;
        if (graphemeCount(body) >= 21) body = graphemePrefix(body, 20) + "…";
    }
    if (msg.mine) return "我：" + body;
    if (msg.to == "all") return msg.fromName + "：" + body;
    return body;
}

}  // namespace corvane
