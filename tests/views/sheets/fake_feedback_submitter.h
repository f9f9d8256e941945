#pragma once
// A feedback submitter for sheet tests: it records each call and answers,
// after a delay, with the outcome the test chose.

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/feedback_submitter.h"

namespace corvane::test {

struct FeedbackCall {
    std::string kind;
    std::string text;
    std::string contact;
};

class FakeSubmitter : public FeedbackSubmitter {
public:
    FakeSubmitter() : FeedbackSubmitter("", 0, "") {}

    Outcome submit(const std::string& kind, const std::string& text, const std::string& contact) const override {
        std::chrono::milliseconds delay;
        {
            std::lock_guard<std::mutex> guard(lock_);
            calls_.push_back({kind, text, contact});
            delay = delay_;
        }
        std::this_thread::sleep_for(delay);
        std::lock_guard<std::mutex> guard(lock_);
        ++finished_;
        return answer_;
    }

    void answer(Outcome outcome, std::chrono::milliseconds delay) {
        std::lock_guard<std::mutex> guard(lock_);
        answer_ = std::move(outcome);
        delay_ = delay;
    }
    std::vector<FeedbackCall> calls() const {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    int finished() const {
        std::lock_guard<std::mutex> guard(lock_);
        return finished_;
    }

private:
    mutable std::mutex lock_;
    mutable std::vector<FeedbackCall> calls_;
    mutable int finished_ = 0;
    Outcome answer_;
    std::chrono::milliseconds delay_{150};
};

}  // namespace corvane::test
