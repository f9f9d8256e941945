#include "storage/mailer.h"

#include <exception>
#include <memory>
#include <optional>

#include "storage/smtp_client.h"

namespace corvane {

namespace {

// Where the worker leaves a mail's outcome. Shared by the worker and the caller, so
// an outcome that arrives after the caller gave up lands in memory that still exists.
struct ResultBox {
    std::mutex lock;
    std::condition_variable done;
    std::optional<Outcome> outcome;
};

Outcome sendOnce(const MailConfig& config, std::chrono::milliseconds timeout, const std::string& to,
                 const std::string& subject, const std::string& body) {
    try {
        SMTPClient client(config, timeout);
        return client.send(to, subject, body);
    } catch (const std::exception& e) {
        return Refusal{std::string("发送失败：") + e.what()};
    }
}

}  // namespace

Mailer::Mailer(std::chrono::milliseconds wait, std::chrono::milliseconds smtpTimeout)
    : wait_(wait), smtpTimeout_(smtpTimeout), worker_([this] { work(); }) {}

Mailer::~Mailer() {
    {
        std::lock_guard hold(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

Mailer& Mailer::shared() {
    static Mailer* mailer = new Mailer();  // never destroyed: a mail may still run at exit
    return *mailer;
}

void Mailer::work() {
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock hold(lock_);
            wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

Outcome Mailer::sendSync(const MailConfig& config, const std::string& to, const std::string& subject,
                         const std::string& body) {
    auto box = std::make_shared<ResultBox>();
    const std::chrono::milliseconds timeout = smtpTimeout_;
    {
        std::lock_guard hold(lock_);
        queue_.push_back([box, config, timeout, to, subject, body] {
            Outcome outcome = sendOnce(config, timeout, to, subject, body);
            std::lock_guard result(box->lock);
            box->outcome = std::move(outcome);
            box->done.notify_all();
        });
    }
    wake_.notify_all();
    std::unique_lock hold(box->lock);
    if (!box->done.wait_for(hold, wait_, [&] { return box->outcome.has_value(); })) {
        return Refusal{"发送超时（15 秒）：检查服务器地址、端口是否正确（SSL 一般是 465）"};
    }
    return *box->outcome;
}

}  // namespace corvane
