// A request that gets no reply: the user reads the Chinese text of its class
// (libcurl's English once stood in the queue as "失败：Couldn't connect to
// server"); only an unclassed failure names libcurl's text.

#include <gtest/gtest.h>

#include <cerrno>
#include <curl/curl.h>

#include "engine/sending/curl_http.h"

namespace corvane {
namespace {

TEST(TransportErrors, EachClassHasThePlatformsChineseTextAndOnlyTheRestNamesLibcurl) {
    const struct {
        int code;
        const char* libcurl;
        const char* shown;
    } cases[] = {
        {CURLE_COULDNT_CONNECT, "Couldn't connect to server", "未能连接到服务器。"},
        {CURLE_OPERATION_TIMEDOUT, "Timeout was reached", "请求超时。"},
        {CURLE_SEND_ERROR, "Failed sending data to the peer", "网络连接已中断。"},
        {CURLE_RECV_ERROR, "Failure when receiving data from the peer", "网络连接已中断。"},
        {CURLE_GOT_NOTHING, "Server returned nothing (no headers, no data)", "网络连接已中断。"},
        {CURLE_PARTIAL_FILE, "Transferred a partial file", "网络连接已中断。"},
        {CURLE_COULDNT_RESOLVE_HOST, "Couldn't resolve host name", "未能找到使用指定主机名的服务器。"},
        {CURLE_UNSUPPORTED_PROTOCOL, "Unsupported protocol", "发生了未知错误。（Unsupported protocol）"},
        {CURLE_SSL_CONNECT_ERROR, "SSL connect error", "发生了未知错误。（SSL connect error）"},
        {CURLE_ABORTED_BY_CALLBACK, "Callback aborted", "发生了未知错误。（Callback aborted）"},
        {0, "cannot write /tmp/x", "发生了未知错误。（cannot write /tmp/x）"},
    };
    for (const auto& c : cases) {
        CurlResult result;
        result.code = c.code;
        result.error = c.libcurl;
        EXPECT_EQ(transportErrorText(result), c.shown) << c.libcurl;
    }
}

// The send queue keeps a folder's files waiting while its receiver cannot be reached; a
// receiver that answered in any way (a refusal, a reset) is there, and its files fail as ever.
TEST(TransportErrors, OnlyATimeOutOrANetworkOrHostOutOfReachCountsAsUnreachable) {
    const struct {
        int code;
        int osErrno;
        bool unreachable;
    } cases[] = {
        {CURLE_OPERATION_TIMEDOUT, 0, true},
        {CURLE_COULDNT_CONNECT, EHOSTUNREACH, true},
        {CURLE_COULDNT_CONNECT, ENETUNREACH, true},
        {CURLE_COULDNT_CONNECT, ENETDOWN, true},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, false},
        {CURLE_RECV_ERROR, ECONNRESET, false},
        {CURLE_GOT_NOTHING, 0, false},
        {CURLE_SEND_ERROR, EPIPE, false},
    };
    for (const auto& c : cases) {
        CurlResult result;
        result.code = c.code;
        result.osErrno = c.osErrno;
        EXPECT_EQ(unreachable(result), c.unreachable) << c.code << " " << c.osErrno;
    }
    CurlResult answered;
    answered.ok = true;
    answered.status = 503;
    EXPECT_FALSE(unreachable(answered));
}

}  // namespace
}  // namespace corvane
