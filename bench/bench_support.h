#pragma once
// What the benchmark programs share: a source file of pseudo-random bytes (so
// nothing on the way can compress it) and the engine's server on loopback.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/server/http_server.h"
#include "engine/main_queue.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// How much of a file is read and sent at a time: the Uploader's HTTP client's upload buffer.
constexpr size_t kSendUnit = 524288;

// The process's peak resident memory in KiB (VmHWM); resetPeak() sets it to the current size.
inline long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

inline void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One keep-alive connection to the server on 127.0.0.1.
class Connection {
public:
    explicit Connection(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
        const int one = 1;
        if (fd_ >= 0) setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::string& head, const char* body = nullptr, size_t length = 0) {
        return sendAll(head.data(), head.size()) && (length == 0 || sendAll(body, length));
    }

    // The head, then `length` bytes of the file from `offset`, sent by the kernel
    // straight from the page cache (as curl -T streams a file, never buffering it whole).
    // Read into a buffer and sent from it, as the Uploader's HTTP client sends a file.
    bool sendFromFile(const std::string& head, int file, off_t offset, size_t length) {
        if (!sendAll(head.data(), head.size())) return false;
        std::vector<char> buffer(std::min(length, kSendUnit));
        while (length > 0) {
            const ssize_t n = ::pread(file, buffer.data(), std::min(length, buffer.size()), offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || !sendAll(buffer.data(), size_t(n))) return false;
            offset += n;
            length -= size_t(n);
        }
        return true;
    }

    // Reads one reply; the status, or none. The body is kept only when asked for.
    std::optional<int> reply(std::string* body, int64_t* bodyBytes = nullptr) {
        size_t end;
        while ((end = buf_.find("\r\n\r\n")) == std::string::npos) {
            if (!fill()) return std::nullopt;
        }
        const std::string head = buf_.substr(0, end);
        buf_.erase(0, end + 4);
        const size_t at = head.find("Content-Length: ");
        int64_t remaining = at == std::string::npos ? 0 : std::atoll(head.c_str() + at + 16);
        if (bodyBytes) *bodyBytes = remaining;
        while (remaining > 0) {
            if (buf_.empty() && !fill()) return std::nullopt;
            const size_t take = std::min<size_t>(buf_.size(), size_t(remaining));
            if (body) body->append(buf_, 0, take);
            buf_.erase(0, take);
            remaining -= int64_t(take);
        }
        return std::atoi(head.c_str() + 9);
    }

private:
    bool sendAll(const char* data, size_t length) {
        size_t off = 0;
        while (off < length) {
            const ssize_t n = ::send(fd_, data + off, length - off, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            off += size_t(n);
        }
        return true;
    }
    bool fill() {
        char chunk[1 << 20];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buf_.append(chunk, size_t(n));
        return true;
    }

    int fd_ = -1;
    std::string buf_;
};

// One request (GET unless told) of one target on several keep-alive connections at once for
// a while; requests per second. `headers` are extra head lines, each ending in CR LF.
inline double requestRate(int port, const std::string& target, int connections, double seconds,
                          const std::string& method = "GET", const std::string& headers = "") {
    std::atomic<int64_t> total{0};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&] {
            Connection conn(port);
            const std::string head = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
            int64_t count = 0;
            while (secondsSince(start) < seconds && conn.send(head) && conn.reply(nullptr)) ++count;
            total += count;
        });
    }
    for (auto& t : threads) t.join();
    return double(total) / secondsSince(start);
}

// A connection to 127.0.0.1:port from another loopback address, as another device would
// open it; -1 when it could not be made.
inline int connectFrom(const std::string& source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendText(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
}

// Reads one whole reply within the time-out; its status, or none when none came.
inline std::optional<int> readReply(int fd, std::chrono::milliseconds timeout) {
    const auto due = Clock::now() + timeout;
    std::string got;
    char buf[4096];
    while (true) {
        const size_t end = got.find("\r\n\r\n");
        if (end != std::string::npos) {
            const size_t at = got.find("Content-Length: ");
            const size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
            if (got.size() >= end + 4 + length) return std::atoi(got.c_str() + 9);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) return std::nullopt;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return std::nullopt;
        got.append(buf, size_t(n));
    }
}

// The bench's main thread: posted work runs when main() drains the queue.
class DrainQueue : public corvane::MainQueue {
public:
    void post(std::function<void()> fn) override {
        {
            std::lock_guard guard(lock_);
            work_.push_back(std::move(fn));
        }
        wake_.notify_one();
    }
    void postAfter(std::chrono::milliseconds, std::function<void()> fn) override { post(std::move(fn)); }

    void drainUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [this] { return !work_.empty(); });
                fn = std::move(work_.front());
                work_.pop_front();
            }
            fn();
        }
    }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
};

// Whether the server has answered or closed the connection: something to read, or its end.
inline bool serverSpoke(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) != 0;
}

// Connections that each sent a head announcing a long body, then send that body at `pace`
// bytes a second, a tenth every 100 ms, until destroyed.
class PacedBodies {
public:
    PacedBodies(std::vector<int> fds, int pace) : fds_(std::move(fds)) {
        pacer_ = std::thread([this, pace] {
            const std::string piece(size_t(pace / 10), 'x');
            while (running_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                for (int fd : fds_) sendText(fd, piece);
            }
        });
    }
    PacedBodies(const PacedBodies&) = delete;
    PacedBodies& operator=(const PacedBodies&) = delete;
    ~PacedBodies() {
        running_ = false;
        pacer_.join();
        for (int fd : fds_) ::close(fd);
    }
    // How many the server still reads (no reply, no close waiting).
    int open() const {
        int count = 0;
        for (int fd : fds_) count += serverSpoke(fd) ? 0 : 1;
        return count;
    }
    size_t size() const { return fds_.size(); }

private:
    std::vector<int> fds_;
    std::atomic<bool> running_{true};
    std::thread pacer_;
};

// The benches hold thousands of connections: the open-file limit goes to its maximum.
inline void raiseFileLimit() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

// A new empty folder under the temporary folder, its name beginning with `prefix`; empty
// when none could be made.
inline std::filesystem::path makeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// One timed request of a client on a new connection.
struct Probe {
    double at = 0;        // seconds since the phase began
    double latency = -1;  // seconds; -1 when unanswered
    int status = 0;
};

// One request on a new connection from `source`, its whole reply awaited 3 s at most.
inline Probe probe(int port, const std::string& source, const std::string& request, Clock::time_point phaseStart) {
    Probe result;
    result.at = secondsSince(phaseStart);
    const auto start = Clock::now();
    const int fd = connectFrom(source, port);
    if (fd < 0) return result;
    if (sendText(fd, request)) {
        if (const auto status = readReply(fd, std::chrono::seconds(3))) {
            result.latency = secondsSince(start);
            result.status = *status;
        }
    }
    ::close(fd);
    return result;
}

// One probe (given the phase's start) every `every` for `span`.
inline std::vector<Probe> probeFor(std::chrono::milliseconds span, std::chrono::milliseconds every,
                                   const std::function<Probe(Clock::time_point)>& one) {
    std::vector<Probe> probes;
    const auto start = Clock::now();
    while (Clock::now() - start < span) {
        const auto next = Clock::now() + every;
        probes.push_back(one(start));
        std::this_thread::sleep_until(next);
    }
    return probes;
}

// How many probes were answered, their median latency and when the first answer came.
inline void reportProbes(const char* phase, const std::vector<Probe>& probes) {
    std::vector<double> answered;
    double first = -1;
    for (const Probe& p : probes) {
        if (p.latency < 0) continue;
        answered.push_back(p.latency);
        if (first < 0) first = p.at;
    }
    std::sort(answered.begin(), answered.end());
    std::printf("%-44s answered %3zu of %3zu", phase, answered.size(), probes.size());
    if (!answered.empty()) {
        std::printf("  median %.2f ms  first answer at %.1f s", answered[answered.size() / 2] * 1000, first);
    }
    std::printf("\n");
}

// The peer protocol's chunk size.
constexpr size_t kChunk = 4194304;

// A request head with a body length (0 for none).
inline std::string request(const std::string& method, const std::string& target, size_t length) {
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(length) +
           "\r\n\r\n";
}

// `count` connections, one per address (the prefix then 1, 2, ...), each in the middle of
// a 4 MiB chunk body sent at `pace` bytes a second; a connection the server closed is
// opened again at the next tick.
class SlowHolders {
public:
    SlowHolders(int port, int count, std::string prefix, int pace)
        : port_(port), prefix_(std::move(prefix)), pace_(pace), fds_(size_t(count), -1) {
        for (int k = 0; k < count; ++k) open(k);
        pacer_ = std::thread([this] { run(); });
    }
    SlowHolders(const SlowHolders&) = delete;
    SlowHolders& operator=(const SlowHolders&) = delete;
    ~SlowHolders() {
        running_ = false;
        pacer_.join();
        for (int fd : fds_) {
            if (fd >= 0) ::close(fd);
        }
    }
    int reopened() const { return reopened_; }

private:
    void open(int k) {
        char id[17];
        std::snprintf(id, sizeof id, "c0ffee%010x", unsigned(k));
        const int fd = connectFrom(prefix_ + std::to_string(k + 1), port_);
        if (fd >= 0 && !sendText(fd, request("PUT", std::string("/api/upload/") + id + "/0", kChunk))) {
            ::close(fd);
            fds_[size_t(k)] = -1;
            return;
        }
        fds_[size_t(k)] = fd;
    }

    void run() {
        const std::string piece(size_t(pace_ / 10), 'x');
        while (running_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (size_t k = 0; k < fds_.size(); ++k) {
                int& fd = fds_[k];
                if (fd >= 0 && !serverSpoke(fd) && sendText(fd, piece)) continue;
                if (fd >= 0) ::close(fd);
                open(int(k));
                ++reopened_;
            }
        }
    }

    int port_;
    std::string prefix_;
    int pace_;
    std::vector<int> fds_;  // touched by the pacer only, once it runs
    std::atomic<bool> running_{true};
    std::atomic<int> reopened_{0};
    std::thread pacer_;
};

// Seconds of one chunk-protocol upload and of its finish (the join) alone; negative on failure.
struct UploadTimes {
    double total = -1;
    double finish = -1;
};

// Meta, every 4 MiB chunk and finish of the source on one keep-alive connection; the
// receiver stores it as "bench.bin".
inline UploadTimes upload(int port, const std::filesystem::path& source, int64_t size,
                          const std::string& id = "beefcafe00112233") {
    const int64_t chunks = (size + int64_t(kChunk) - 1) / int64_t(kChunk);
    const int file = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return {};
    Connection conn(port);
    const auto start = Clock::now();
    const std::string meta = "{\"name\":\"bench.bin\",\"rel\":\"\",\"size\":" + std::to_string(size) +
                             ",\"chunks\":" + std::to_string(chunks) + ",\"mtime\":0}";
    bool ok = conn.send(request("PUT", "/api/upload/" + id + "/meta", meta.size()) + meta) && conn.reply(nullptr) == 200;
    for (int64_t k = 0; ok && k < chunks; ++k) {
        const off_t offset = off_t(k) * off_t(kChunk);
        const size_t n = size_t(std::min<int64_t>(int64_t(kChunk), size - offset));
        ok = conn.sendFromFile(request("PUT", "/api/upload/" + id + "/" + std::to_string(k), n), file, offset, n) &&
             conn.reply(nullptr) == 200;
    }
    const auto finishStart = Clock::now();
    std::string body;
    ok = ok && conn.send(request("POST", "/api/upload/" + id + "/finish", 2) + "{}") && conn.reply(&body) == 200;
    const UploadTimes times{secondsSince(start), secondsSince(finishStart)};
    ::close(file);
    if (!ok) std::fprintf(stderr, "upload failed: %s\n", body.c_str());
    return ok ? times : UploadTimes{};
}

inline bool writeSource(const std::filesystem::path& path, int64_t size) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const size_t blockSize = 4 << 20;
    std::vector<uint64_t> block(blockSize / 8);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int64_t written = 0; written < size; written += int64_t(blockSize)) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t n = size_t(std::min<int64_t>(int64_t(blockSize), size - written));
        if (std::fwrite(block.data(), 1, n, out) != n) {
            std::fclose(out);
            return false;
        }
    }
    const bool ok = std::fclose(out) == 0;
    ::sync();  // the source's write-back must not slow the transfer down
    return ok;
}

// A started server on the first free port from firstPort, or null (with a message). With
// an extension's rows the server runs in team mode.
inline std::shared_ptr<corvane::HTTPServer> startServer(const std::filesystem::path& root, int firstPort,
                                                        const std::string& token,
                                                        std::function<void(corvane::RouteTable&)> addRoutes = {}) {
    corvane::ServerOptions options;
    options.firstPort = firstPort;
    options.lastPort = firstPort + 19;
    if (addRoutes) {
        options.addRoutes = std::move(addRoutes);
        options.nasExt = [] { return true; };
    }
    auto server = std::make_shared<corvane::HTTPServer>("bench-device", "Bench", token, "", root, options);
    if (!server->start()) {
        std::fprintf(stderr, "no free port from %d\n", firstPort);
        return nullptr;
    }
    return server;
}

// Runs the started server in its own process for bench/nginx_compare.py: prints the bound
// port on stdout and serves until stdin reaches its end or SIGTERM/SIGINT arrives, then
// stops it cleanly. The stop signals are blocked before `start` makes any thread, so
// every thread inherits the mask and only the wait here receives them. The exit status.
inline int serveUntilStopped(const std::function<std::shared_ptr<corvane::HTTPServer>()>& start) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    const auto server = start();
    if (!server) return 1;
    std::printf("%d\n", server->port());
    std::fflush(stdout);
    // The end of stdin becomes SIGTERM, so one signal wait covers both ways of stopping.
    std::thread([] {
        char byte[256];
        while (::read(STDIN_FILENO, byte, sizeof byte) > 0) {
        }
        ::kill(::getpid(), SIGTERM);
    }).detach();

    int received = 0;
    sigwait(&stops, &received);
    server->stop();
    return 0;
}

}  // namespace bench
