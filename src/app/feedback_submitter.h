#pragma once
// Sends one feedback report to the maker's feedback endpoint as a JSON POST and
// turns the outcome into done, or one short message for the user. Blocking
// for up to the time-out: call submit() off the main thread. No Qt; the
// endpoint, the time-out and the "os" text are given, so tests aim it at a
// loopback server.

#include <string>

#include "base/refusal.h"

namespace corvane {

struct CurlResult;

class FeedbackSubmitter {
public:
    static constexpr const char* shippedEndpoint = "https://updates.corvane.app/corvane/api/feedback";
    static constexpr long shippedTimeoutMs = 12000;
    // At most this much of a reply body is read; a longer one is not JSON.
    static constexpr size_t maxReplyBody = 64 * 1024;

    FeedbackSubmitter(std::string endpoint, long timeoutMs, std::string os);
    virtual ~FeedbackSubmitter() = default;

    // One request, no retry: done when the endpoint answers 200, else the message to show.
    virtual Outcome submit(const std::string& kind, const std::string& text, const std::string& contact) const;

    // The compact JSON object of the six members; invalid UTF-8 is replaced.
    std::string body(const std::string& kind, const std::string& text, const std::string& contact) const;

private:
    std::string endpoint_;
    long timeoutMs_;
    std::string os_;
};

// The user's view of a reply: transport failure, no status, 200, the server's "error" text, or the status.
Outcome feedbackOutcome(const CurlResult& reply);

}  // namespace corvane
