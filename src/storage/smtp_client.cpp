// The SMTP dialogue: greeting, EHLO, STARTTLS when TLS is not on from the start,
// AUTH LOGIN, envelope, message, QUIT.

#include "storage/smtp_client.h"

#include <csignal>
#include <ctime>
#include <locale.h>
#include <vector>

#include "base/json_fields.h"
#include "base/text_util.h"
#include "base/unicode_text.h"
#include "storage/mail_connection.h"
#include "storage/team_crypto.h"

namespace corvane {

namespace {

constexpr size_t kMaxLineBytes = 8192;  // a longer line ends after its 8193rd byte
constexpr int kMaxReplyLines = 40;
constexpr size_t kBodyColumns = 76;

struct Reply {
    int64_t code = 0;
    std::string text;  // the lines joined with " / "
};

bool hasLineBreakOrNul(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos; }

std::string encodedWord(std::string_view text) { return "=?UTF-8?B?" + base64Encode(text) + "?="; }

// "Tue, 3 Jun 2025 14:05:09 +0800" in the machine's time zone.
std::string mailDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64] = {};
    const locale_t posix = newlocale(LC_ALL_MASK, "C", locale_t(0));
    strftime_l(text, sizeof text, "%a, %-d %b %Y %H:%M:%S %z", &local, posix);
    freelocale(posix);
    return text;
}

// A random (version 4) UUID in lower case.
std::string randomUUID() {
    std::string bytes = teamRandomBytes(16);
    bytes[6] = char((uint8_t(bytes[6]) & 0x0f) | 0x40);
    bytes[8] = char((uint8_t(bytes[8]) & 0x3f) | 0x80);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (size_t k = 0; k < bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) out += '-';
        out += hex[uint8_t(bytes[k]) >> 4];
        out += hex[uint8_t(bytes[k]) & 0x0f];
    }
    return out;
}

// One dialogue on one connection.
class Dialogue {
public:
    Dialogue(const MailConfig& config, std::chrono::milliseconds timeout) : config_(config), conn_(timeout) {}

    Outcome run(const std::string& to, const std::string& message);

private:
    Outcome connect();
    Outcome write(const std::string& line);
    Result<std::string> readLine();
    Result<Reply> readReply();
    Result<Reply> expect(int64_t code);
    Outcome command(const std::string& line, int64_t code);
    Outcome greet();
    Outcome startTLS();

    static Refusal failure(const std::string& prefix, int64_t code, const std::string& middle, const std::string& text) {
        return Refusal{prefix + std::to_string(code) + middle + text};
    }

    const MailConfig& config_;
    MailConnection conn_;
};

Outcome Dialogue::connect() {
    const std::string where = config_.host + ":" + std::to_string(config_.port);
    if (config_.port < 1 || config_.port > 65535) return Refusal{"无法建立连接（" + where + "）"};
    const std::string unreachable = "连不上邮件服务器 " + where + "，检查地址、端口和网络";
    if (!conn_.connect(config_.host, int(config_.port))) return Refusal{unreachable};
    if (!config_.tls) return {};
    return conn_.startTLS(config_.host);
}

Outcome Dialogue::write(const std::string& line) { return conn_.write(line); }

Result<std::string> Dialogue::readLine() {
    std::string line;
    while (true) {
        char byte = 0;
        if (Outcome got = conn_.readByte(byte); !got) return Refusal{got.refusal()};
        if (byte == '\r') continue;
        if (byte == '\n') break;
        line += byte;
        if (line.size() > kMaxLineBytes) break;
    }
    return isValidUTF8(line) ? line : std::string();
}

Result<Reply> Dialogue::readReply() {
    Reply reply;
    std::vector<std::string> lines;
    for (int counter = 1;; ++counter) {
        Result<std::string> line = readLine();
        if (!line) return Refusal{line.refusal()};
        const std::string& text = *line;
        lines.push_back(text);
        if (graphemeCount(graphemePrefix(text, 3)) == 3) {
            if (const auto code = parseIntText(graphemePrefix(text, 3))) reply.code = *code;
        }
        const std::string first4 = graphemePrefix(text, 4);
        const bool more = graphemeCount(first4) == 4 && first4.back() == '-';
        if (!more || counter >= kMaxReplyLines) break;
    }
    reply.text = joined(lines, " / ");
    return reply;
}

Result<Reply> Dialogue::expect(int64_t code) {
    Result<Reply> reply = readReply();
    if (!reply) return reply;
    if (reply->code != code) {
        return failure("服务器返回 ", reply->code, "，期望 " + std::to_string(code) + "：", reply->text);
    }
    return reply;
}

Outcome Dialogue::command(const std::string& line, int64_t code) {
    if (Outcome sent = write(line + "\r\n"); !sent) return sent;
    Result<Reply> reply = expect(code);
    if (!reply) return Refusal{reply.refusal()};
    return {};
}

Outcome Dialogue::greet() {
    if (Outcome sent = write("EHLO corvane.local\r\n"); !sent) return sent;
    Result<Reply> reply = readReply();
    if (!reply) return Refusal{reply.refusal()};
    if (reply->code != 250) return failure("邮件服务器握手失败（", reply->code, "）：", reply->text);
    return {};
}

Outcome Dialogue::startTLS() {
    if (Outcome sent = write("STARTTLS\r\n"); !sent) return sent;
    Result<Reply> reply = readReply();
    if (!reply) return Refusal{reply.refusal()};
    if (reply->code != 220) return failure("服务器不接受 STARTTLS（", reply->code, "）：改试 465 端口。", reply->text);
    return conn_.startTLS(config_.host);
}

Outcome Dialogue::run(const std::string& to, const std::string& message) {
    if (Outcome o = connect(); !o) return o;
    if (Result<Reply> hello = expect(220); !hello) return Refusal{hello.refusal()};
    if (Outcome o = greet(); !o) return o;
    if (!config_.tls) {
        if (Outcome o = startTLS(); !o) return o;
        if (Outcome o = greet(); !o) return o;
    }
    if (Outcome o = command("AUTH LOGIN", 334); !o) return o;
    if (Outcome o = command(base64Encode(config_.user), 334); !o) return o;
    if (Outcome sent = write(base64Encode(config_.pass) + "\r\n"); !sent) return sent;
    Result<Reply> auth = readReply();
    if (!auth) return Refusal{auth.refusal()};
    if (auth->code != 235) {
        return failure("登录被拒绝（", auth->code, "）：请确认用的是「授权码」而不是邮箱登录密码。", auth->text);
    }
    if (Outcome o = command("MAIL FROM:<" + config_.sender() + ">", 250); !o) return o;
    if (Outcome sent = write("RCPT TO:<" + to + ">\r\n"); !sent) return sent;
    Result<Reply> rcpt = readReply();
    if (!rcpt) return Refusal{rcpt.refusal()};
    if (rcpt->code != 250 && rcpt->code != 251) return failure("收件人被拒绝（", rcpt->code, "）：", rcpt->text);
    if (Outcome o = command("DATA", 354); !o) return o;
    if (Outcome sent = write(message + "\r\n.\r\n"); !sent) return sent;
    Result<Reply> accepted = readReply();
    if (!accepted) return Refusal{accepted.refusal()};
    if (accepted->code != 250) return failure("发送失败（", accepted->code, "）：", accepted->text);
    (void)write("QUIT\r\n");
    return {};
}

}  // namespace

SMTPClient::SMTPClient(MailConfig config, std::chrono::milliseconds timeout)
    : config_(std::move(config)), timeout_(timeout) {}

std::string SMTPClient::buildMessage(const std::string& to, const std::string& subject, const std::string& body) const {
    std::vector<std::string> lines = {
        "From: " + encodedWord(config_.senderName) + " <" + config_.sender() + ">",
        "To: <" + to + ">",
        "Subject: " + encodedWord(subject),
        "Date: " + mailDate(),
        "Message-ID: <" + randomUUID() + "@" + config_.host + ">",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=UTF-8",
        "Content-Transfer-Encoding: base64",
        "",
    };
    const std::string encoded = base64Encode(body);
    for (size_t at = 0; at < encoded.size(); at += kBodyColumns) lines.push_back(encoded.substr(at, kBodyColumns));
    for (std::string& line : lines) {
        if (line.starts_with('.')) line.insert(0, ".");
    }
    return joined(lines, "\r\n");
}

Outcome SMTPClient::send(const std::string& to, const std::string& subject, const std::string& body) {
    const std::string* const checked[] = {&config_.host, &config_.from, &config_.user, &config_.senderName, &to, &subject};
    for (const std::string* value : checked) {
        if (hasLineBreakOrNul(*value)) return Refusal{"邮件设置含有非法字符"};
    }
    // TLS writes go through the socket's own write(); a vanished server must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    Dialogue dialogue(config_, timeout_);
    return dialogue.run(to, buildMessage(to, subject, body));
}

}  // namespace corvane
