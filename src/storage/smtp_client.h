#pragma once
// The mail submission client: one plain-text mail to one recipient over a socket of its
// own, with TLS from the first byte or switched on by STARTTLS (certificates always
// verified through OpenSSL's default paths), and AUTH LOGIN. Every failure is a text
// for the administrator.

#include <chrono>
#include <string>

#include "base/refusal.h"
#include "storage/mail_settings.h"

namespace corvane {

class SMTPClient {
public:
    // `timeout` bounds the connect and every read and write.
    explicit SMTPClient(MailConfig config, std::chrono::milliseconds timeout = std::chrono::seconds(12));

    // The whole dialogue, once; the connection is closed however it ends.
    Outcome send(const std::string& to, const std::string& subject, const std::string& body);

    // The message text: headers, an empty line, the body's Base64 in 76-column lines,
    // joined by CR LF, lines starting with "." doubled.
    std::string buildMessage(const std::string& to, const std::string& subject, const std::string& body) const;

private:
    MailConfig config_;
    std::chrono::milliseconds timeout_;
};

}  // namespace corvane
