#include "app/feedback_submitter.h"

#include <nlohmann/json.hpp>

#include "base/cfg.h"
#include "engine/sending/curl_http.h"

namespace corvane {

FeedbackSubmitter::FeedbackSubmitter(std::string endpoint, long timeoutMs, std::string os)
    : endpoint_(std::move(endpoint)), timeoutMs_(timeoutMs), os_(std::move(os)) {}

std::string FeedbackSubmitter::body(const std::string& kind, const std::string& text, const std::string& contact) const {
    const nlohmann::json object = {{"kind", kind},    {"text", text},           {"contact", contact},
                                   {"app", "linux"},  {"ver", Cfg::version()},  {"os", os_}};
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Outcome FeedbackSubmitter::submit(const std::string& kind, const std::string& text, const std::string& contact) const {
    CurlRequest request;
    request.method = "POST";
    request.url = endpoint_;
    request.headers = {{"Content-Type", "application/json"}};
    request.body = body(kind, text, contact);
    request.timeoutMs = timeoutMs_;
    request.maxBody = maxReplyBody;
    return feedbackOutcome(curlPerform(request));
}

Outcome feedbackOutcome(const CurlResult& reply) {
    if (!reply.ok) return Refusal{"连不上服务器，检查一下网络再试"};
    if (reply.status <= 0) return Refusal{"网络异常，稍后再试"};
    if (reply.status == 200) return {};
    if (!reply.bodyCut) {
        const auto parsed = nlohmann::json::parse(reply.body, nullptr, false);
        if (parsed.is_object() && parsed.contains("error") && parsed.at("error").is_string()) {
            return Refusal{parsed.at("error").get<std::string>()};
        }
    }
    return Refusal{"提交失败（HTTP " + std::to_string(reply.status) + "）"};
}

}  // namespace corvane
