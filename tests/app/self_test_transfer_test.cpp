// The self-test's round trip sends each request once: a connection closed with no
// reply ends the step with its failure line, and nothing is sent again.

#include <gtest/gtest.h>

#include "app/self_test_transfer.h"
#include "support/scripted_http_server.h"

namespace corvane {
namespace {

using test::ScriptedHTTPServer;
using test::ScriptedReply;

TEST(SelfTestTransfer, AnUploadRequestClosedUnansweredIsNotSentAgain) {
    const std::string upload = "/api/upload/" + SelfTestFile::uploadID();
    const struct {
        const char* closed;  // the path whose connection closes unanswered
        size_t requests;     // the listing and the upload's requests up to the closed one
    } cases[] = {{"/meta", 2}, {"/0", 3}, {"/finish", 4}};
    for (const auto& c : cases) {
        ScriptedHTTPServer server(ScriptedReply{200, "application/json", "{}"});
        server.setReply("/api/files", ScriptedReply{200, "application/json", R"({"files":[]})"});
        server.setReply(upload + c.closed, ScriptedReply{.closeUnanswered = true});
        const std::vector<std::string> lines = selfTestRoundTrip(APIClient(server.base(), "", ""));
        ASSERT_EQ(lines.size(), 2u) << c.closed;
        EXPECT_EQ(lines[0], "对端文件数: 0 首个: -") << c.closed;
        EXPECT_EQ(lines[1].rfind("上传失败: ", 0), 0u) << lines[1];
        EXPECT_EQ(server.requests().size(), c.requests) << c.closed;
    }
}

}  // namespace
}  // namespace corvane
