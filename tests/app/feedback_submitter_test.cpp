// The feedback submitter against a loopback server: what goes out (one POST,
// one content type, the six members) and how every kind of reply becomes done
// or the user's message; and the os-release reader behind its "os" member.
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "app/feedback_submitter.h"
#include "app/os_release.h"
#include "base/cfg.h"
#include "engine/sending/curl_http.h"
#include "support/scripted_http_server.h"

namespace corvane {
namespace {

using test::ScriptedHTTPServer;
using test::ScriptedReply;

constexpr long testTimeoutMs = 400;
const std::string generic400 = "提交失败（HTTP 400）";

// A loopback port that accepts connections into its backlog and never answers.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port nobody listens on.
int closedPort() {
    SilentListener taken;
    return taken.port();
}

FeedbackSubmitter submitterFor(int port, long timeoutMs = testTimeoutMs) {
    return FeedbackSubmitter("http://127.0.0.1:" + std::to_string(port) + "/corvane/api/feedback", timeoutMs,
                             "Linux Test OS 1");
}

Outcome submitOnce(ScriptedReply reply) {
    ScriptedHTTPServer server(std::move(reply));
    return submitterFor(server.port()).submit("问题反馈", "hello", "");
}

TEST(FeedbackSubmitter, repliesBecomeDoneOrTheUsersMessage) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        bool done;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"200 with an error member is still success", {200, "application/json", R"({"error":"x"})"}, true, ""},
        {"200 with no body", {200, "text/plain", ""}, true, ""},
        {"201 with an empty body", {201, "text/plain", ""}, false, "提交失败（HTTP 201）"},
        {"204 with an empty body", {204, "text/plain", ""}, false, "提交失败（HTTP 204）"},
        {"400 with an error text, shown literally", {400, "application/json", R"({"error":"<i>坏</i>"})"}, false,
         "<i>坏</i>"},
        {"400 with an empty error text", {400, "application/json", R"({"error":""})"}, false, ""},
        {"400 with an error that is no string", {400, "application/json", R"({"error":5})"}, false, generic400},
        {"400 with a JSON array", {400, "application/json", R"(["error"])"}, false, generic400},
        {"400 with an object lacking error", {400, "application/json", R"({"message":"x"})"}, false, generic400},
        {"502 with HTML", {502, "text/html", "<html><body>Bad Gateway</body></html>"}, false,
         "提交失败（HTTP 502）"},
        {"a redirect is just another status", {302, "text/plain", ""}, false, "提交失败（HTTP 302）"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = submitOnce(c.reply);
        EXPECT_EQ(outcome.ok(), c.done) << c.name;
        EXPECT_EQ(outcome.refusal(), c.message) << c.name;
    }
}

TEST(FeedbackSubmitter, aHugeErrorBodyIsNotJSONAndNotKeptWhole) {
    const std::string huge = R"({"error":")" + std::string(1024 * 1024, 'x') + R"("})";
    const Outcome outcome = submitOnce({400, "application/json", huge});
    EXPECT_EQ(outcome.refusal(), generic400);

    ScriptedHTTPServer server({400, "application/json", huge});
    CurlRequest request;
    request.url = server.base();
    request.maxBody = FeedbackSubmitter::maxReplyBody;
    const CurlResult reply = curlPerform(request);
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(reply.bodyCut);
    EXPECT_EQ(reply.body.size(), FeedbackSubmitter::maxReplyBody);
}

TEST(FeedbackSubmitter, theServerSeesOnePostWithTheSixMembers) {
    for (const size_t size : {size_t(2 * 1024), size_t(1536 * 1024)}) {
        ScriptedHTTPServer server;
        const std::string text(size, 'a');
        EXPECT_TRUE(submitterFor(server.port()).submit("功能建议", text, "  wx: me \n").ok());
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u) << size;
        const HTTPReq& req = requests[0];
        EXPECT_EQ(req.method, "POST");
        EXPECT_EQ(req.path, "/corvane/api/feedback");
        EXPECT_EQ(req.header("content-type"), "application/json");
        EXPECT_EQ(req.headers.count("expect"), 0u) << size;
        const auto body = nlohmann::json::parse(req.body);
        EXPECT_EQ(body.size(), 6u);
        EXPECT_EQ(body.at("kind"), "功能建议");
        EXPECT_EQ(body.at("text"), text);
        EXPECT_EQ(body.at("contact"), "  wx: me \n") << "the contact goes as typed";
        EXPECT_EQ(body.at("app"), "linux");
        EXPECT_EQ(body.at("ver"), Cfg::version());
        EXPECT_EQ(body.at("os"), "Linux Test OS 1");
        EXPECT_EQ(req.body.view().find('\n'), std::string_view::npos) << "compact";
    }
}

TEST(FeedbackSubmitter, anEmptyContactIsSentAndInvalidUTF8IsReplaced) {
    ScriptedHTTPServer server;
    EXPECT_TRUE(submitterFor(server.port()).submit("其他", "ab\xff\xfe", "").ok());
    ASSERT_EQ(server.requests().size(), 1u);
    const auto body = nlohmann::json::parse(server.requests()[0].body);
    EXPECT_EQ(body.at("contact"), "");
    EXPECT_EQ(body.at("text"), "ab\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(FeedbackSubmitter, unreachableServersGiveTheNetworkMessage) {
    using Clock = std::chrono::steady_clock;
    const std::string unreachable = "连不上服务器，检查一下网络再试";

    // A time-out far beyond any load: a closed port must not wait for it.
    constexpr long longTimeoutMs = 30000;
    auto start = Clock::now();
    EXPECT_EQ(submitterFor(closedPort(), longTimeoutMs).submit("其他", "ab", "").refusal(), unreachable);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(longTimeoutMs)) << "a closed port answers at once";

    SilentListener silent;
    start = Clock::now();
    EXPECT_EQ(submitterFor(silent.port()).submit("其他", "ab", "").refusal(), unreachable);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(testTimeoutMs - 50)) << "a silent server after the time-out";
}

TEST(FeedbackOutcome, aReplyWithoutAStatusIsANetworkFault) {
    CurlResult reply;
    reply.ok = true;
    reply.status = 0;
    EXPECT_EQ(feedbackOutcome(reply).refusal(), "网络异常，稍后再试");
}

TEST(OSRelease, prettyNameIsReadAsTheFormatAllows) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> pretty;
    };
    const std::vector<Case> cases = {
        {"double quotes", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"single quotes keep backslashes", "PRETTY_NAME='Arch \\Linux'\n", "Arch \\Linux"},
        {"unquoted", "PRETTY_NAME=Alpine\n", "Alpine"},
        {"escapes inside double quotes", R"(PRETTY_NAME="A \"B\" \$C \\D \x")", R"(A "B" $C \D \x)"},
        {"escaped blank unquoted", "PRETTY_NAME=Foo\\ Bar", "Foo Bar"},
        {"carriage return and blanks", "  PRETTY_NAME=\"Fedora 40\"  \r\n", "Fedora 40"},
        {"comments and other keys", "# PRETTY_NAME=\"no\"\nID=x\nXPRETTY_NAME=no\n", std::nullopt},
        {"empty value", "PRETTY_NAME=\"\"\n", std::nullopt},
        {"missing", "NAME=Debian\n", std::nullopt},
        {"empty text", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(prettyName(c.text), c.pretty) << c.name;
}

TEST(OSRelease, theOSTextFallsBackFileByFileToTheKernel) {
    const std::string debian = "PRETTY_NAME=\"Debian 12\"\n";
    const std::string suse = "PRETTY_NAME=\"openSUSE\"\n";
    EXPECT_EQ(osText(debian, suse, "6.1.0"), "Linux Debian 12");
    EXPECT_EQ(osText(std::nullopt, suse, "6.1.0"), "Linux openSUSE");
    EXPECT_EQ(osText("ID=x\n", suse, "6.1.0"), "Linux openSUSE");
    EXPECT_EQ(osText(std::nullopt, std::nullopt, "6.1.0-18-amd64"), "Linux 6.1.0-18-amd64");
    EXPECT_EQ(systemOSText().rfind("Linux ", 0), 0u);
}

}  // namespace
}  // namespace corvane
