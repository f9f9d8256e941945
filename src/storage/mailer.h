#pragma once
// Sends mail one at a time on a worker thread of its own; the caller waits a bounded
// time for the outcome, and a mail whose caller gave up still finishes (or fails) on
// the worker before the next one starts.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/refusal.h"
#include "storage/mail_settings.h"

namespace corvane {

class Mailer {
public:
    // `wait`: how long sendSync waits for its mail; `smtpTimeout`: the connect and
    // each read and write of the dialogue.
    explicit Mailer(std::chrono::milliseconds wait = std::chrono::seconds(15),
                    std::chrono::milliseconds smtpTimeout = std::chrono::seconds(12));
    // Finishes the mails already queued, then ends the worker.
    ~Mailer();
    Mailer(const Mailer&) = delete;
    Mailer& operator=(const Mailer&) = delete;

    // The process's mailer (never destroyed).
    static Mailer& shared();

    // Queues the mail and waits for it; refused with the client's text, or with the
    // time-out text when the wait ran out.
    Outcome sendSync(const MailConfig& config, const std::string& to, const std::string& subject,
                     const std::string& body);

private:
    void work();

    const std::chrono::milliseconds wait_;
    const std::chrono::milliseconds smtpTimeout_;
    std::mutex lock_;  // guards queue_ and stopping_
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace corvane
