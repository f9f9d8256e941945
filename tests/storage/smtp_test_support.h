#pragma once
// Mail servers for the SMTP tests, all on loopback: a throwaway CA and a certificate for
// localhost and 127.0.0.1 made with the openssl command; Debian's aiosmtpd run by
// smtp_test_server.py, recording commands and messages; and a scripted server whose
// side of the dialogue each test writes by hand.

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base/unique_fd.h"
#include "support/test_support.h"

namespace corvane::test {

// A CA and a server certificate signed by it, in a folder of their own.
struct TestCA {
    explicit TestCA(const std::filesystem::path& folder) : dir(folder) {
        std::filesystem::create_directories(dir);
        writeFile(dir / "ext.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                                   "extendedKeyUsage=serverAuth\n");
        const std::string d = dir.string();
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        ok = run("openssl req -x509" + key + " -keyout " + d + "/ca.key -out " + d + "/ca.pem -days 2 -subj /CN=Test-CA") &&
             run("openssl req" + key + " -keyout " + d + "/server.key -out " + d + "/server.csr -subj /CN=localhost") &&
             run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d + "/ca.key" +
                 " -CAcreateserial -out " + d + "/server.pem -days 2 -extfile " + d + "/ext.cnf");
    }
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
    std::string ca() const { return (dir / "ca.pem").string(); }
    std::string cert() const { return (dir / "server.pem").string(); }
    std::string key() const { return (dir / "server.key").string(); }

    std::filesystem::path dir;
    bool ok = false;
};

// aiosmtpd in a child process; killed (by its own id) when this goes.
class AioSMTPServer {
public:
    AioSMTPServer(const std::string& mode, const TestCA& ca, const std::filesystem::path& log, const std::string& user,
                  const std::string& password)
        : log_(log) {
        int out[2];
        if (::pipe(out) != 0) return;
        const std::string script = std::string(CORVANE_SOURCE_DIR) + "/tests/storage/smtp_test_server.py";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/usr/bin/python3", "python3", script.c_str(), mode.c_str(), ca.cert().c_str(), ca.key().c_str(),
                    log.c_str(), user.c_str(), password.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        UniqueFd reader(out[0]);
        std::string line;
        char c = 0;
        pollfd p{reader.get(), POLLIN, 0};
        while (::poll(&p, 1, 15000) == 1 && ::read(reader.get(), &c, 1) == 1 && c != '\n') line += c;
        if (line.starts_with("READY ")) port_ = std::stoi(line.substr(6));
    }
    ~AioSMTPServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    AioSMTPServer(const AioSMTPServer&) = delete;
    AioSMTPServer& operator=(const AioSMTPServer&) = delete;

    int port() const { return port_; }
    // What the server recorded, one entry per command or message.
    std::vector<nlohmann::json> records() const {
        std::vector<nlohmann::json> out;
        std::istringstream in(readFile(log_));
        for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line, nullptr, false));
        return out;
    }
    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const auto& r : records()) out.push_back(r.value("cmd", "") + (r.value("tls", false) ? " (tls)" : ""));
        return out;
    }
    std::string message() const {
        for (const auto& r : records()) {
            if (r.contains("message")) return r["message"];
        }
        return "";
    }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// One connection at a time on a free loopback port, each served by the test's script.
class ScriptedSMTP {
public:
    // The peer side the script talks through.
    struct Peer {
        int fd;
        void send(const std::string& text) const { (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
        // One line without CR LF; "" when the client went away.
        std::string line() const {
            std::string out;
            char c = 0;
            while (::recv(fd, &c, 1, 0) == 1) {
                if (c == '\n') break;
                if (c != '\r') out += c;
            }
            return out;
        }
        // Reads until the client closes.
        void waitForClose() const {
            char c = 0;
            while (::recv(fd, &c, 1, 0) == 1) {
            }
        }
    };
    using Script = std::function<void(const Peer&)>;

    explicit ScriptedSMTP(Script script) : script_(std::move(script)) {
        listen_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_.get(), 8) != 0 ||
            ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            while (true) {
                UniqueFd conn(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (!conn) return;
                ++accepted_;
                script_(Peer{conn.get()});
            }
        });
    }
    ~ScriptedSMTP() {
        ::shutdown(listen_.get(), SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
    }
    ScriptedSMTP(const ScriptedSMTP&) = delete;
    ScriptedSMTP& operator=(const ScriptedSMTP&) = delete;

    int port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    Script script_;
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

}  // namespace corvane::test
