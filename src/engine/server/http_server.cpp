#include "engine/server/http_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "base/client_paths.h"
#include "base/json_fields.h"
#include "base/lan_socket.h"
#include "base/unique_fd.h"
#include "engine/server/http_response.h"
#include "engine/server/read_buffer.h"
#include "engine/server/reply_batch.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr size_t kReadBlock = 262144;          // 256 KiB per read
constexpr size_t kMaxHead = 262144;            // waiting bytes allowed without a blank line

enum class BodyRead { whole, cut, busy };

// Reads a body held in memory from the front of buf, then from the socket as its bytes
// come; the memory each piece adds takes its room in the budget before the piece is kept,
// so a body holds only what it has sent, and the budget counts all it holds. A body that
// falls behind its pace, or is cut to make room for another, is cut like one whose client
// went away.
BodyRead readHeldBody(int fd, ReadBuffer& buf, size_t length, HeldBody& body, BodyReservation& reservation,
                      const BodyClock& clock) {
    while (true) {
        const std::string_view piece = buf.view().substr(0, length - body.size());
        const size_t memory = HeldBody::memoryFor(body.size() + piece.size());
        if (!reservation.grow(int64_t(memory) - int64_t(body.memory()), int64_t(body.size() + piece.size()))) {
            return reservation.wasCut() ? BodyRead::cut : BodyRead::busy;
        }
        body.append(piece);
        buf.consume(piece.size());
        if (body.size() == length) return reservation.settle() ? BodyRead::whole : BodyRead::cut;
        if (!buf.readPaced(fd, std::min(kReadBlock, length - body.size()), clock, int64_t(body.size()))) {
            return BodyRead::cut;
        }
    }
}

// Digits too large for 64 bits are not "unreadable": they close the connection.
bool isOverlongNumber(const std::string& text) {
    size_t k = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (k == text.size()) return false;
    for (; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    return !parseIntText(text).has_value();
}

timeval asTimeval(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = time_t(timeout.count() / 1000);
    tv.tv_usec = suseconds_t((timeout.count() % 1000) * 1000);
    return tv;
}

void setTimeouts(int fd, std::chrono::milliseconds timeout) {
    const timeval tv = asTimeval(timeout);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void setReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
    const timeval tv = asTimeval(std::max(timeout, std::chrono::milliseconds(1)));
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Waits until a byte can be read, leaving it in the socket; false on end of stream,
// error or time-out.
bool awaitBytes(int fd) {
    char byte = 0;
    while (true) {
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

RouteTable buildRoutes(const ServerOptions& options) {
    RouteTable table = RouteTable::withEngineRoutes();
    if (options.addRoutes) options.addRoutes(table);
    return table;
}

}  // namespace

HTTPServer::HTTPServer(std::string deviceID, std::string deviceName, std::string token, std::string pin,
                       fs::path root, ServerOptions options)
    : deviceID_(std::move(deviceID)),
      deviceName_(std::move(deviceName)),
      token_(std::move(token)),
      pin_(std::move(pin)),
      root_(root),
      parts_(root / partsFolderName),
      options_(std::move(options)),
      routes_(buildRoutes(options_)),
      bodyBudget_(options_.bodyBudget, options_.bodyBudget / 4, [this] { return now(); }) {}

HTTPServer::~HTTPServer() { stop(); }

std::string HTTPServer::deviceName() const {
    std::lock_guard lock(fieldsLock_);
    return deviceName_;
}
void HTTPServer::setDeviceName(std::string name) {
    std::lock_guard lock(fieldsLock_);
    deviceName_ = std::move(name);
}
std::string HTTPServer::token() const {
    std::lock_guard lock(fieldsLock_);
    return token_;
}
void HTTPServer::setToken(std::string token) {
    std::lock_guard lock(fieldsLock_);
    token_ = std::move(token);
}
std::string HTTPServer::pin() const {
    std::lock_guard lock(fieldsLock_);
    return pin_;
}
void HTTPServer::setPin(std::string pin) {
    std::lock_guard lock(fieldsLock_);
    pin_ = std::move(pin);
}
fs::path HTTPServer::root() const {
    std::lock_guard lock(fieldsLock_);
    return root_;
}
fs::path HTTPServer::parts() const {
    std::lock_guard lock(fieldsLock_);
    return parts_;
}
ReceiveDirs HTTPServer::receiveDirs() const {
    std::lock_guard lock(fieldsLock_);
    return ReceiveDirs{root_, parts_};
}
void HTTPServer::setRoot(fs::path root) {
    std::lock_guard lock(fieldsLock_);
    parts_ = root / partsFolderName;
    root_ = std::move(root);
}

void HTTPServer::emit(const ServerEvent& event) const {
    if (onEvent) onEvent(event);
}

double HTTPServer::now() const {
    if (options_.clock) return options_.clock();
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

bool HTTPServer::nasExtOn() const { return options_.nasExt && options_.nasExt(); }

bool HTTPServer::start() {
    if (running_) return true;
    // Every send uses MSG_NOSIGNAL; ignoring SIGPIPE also covers writes made by handlers' libraries.
    std::signal(SIGPIPE, SIG_IGN);
    std::error_code ec;
    fs::create_directories(root(), ec);
    fs::create_directories(parts(), ec);
    removeAbandonedUploads();

    for (int port = options_.firstPort; port <= options_.lastPort; ++port) {
        UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!sock) continue;
        const int fd = sock.get();
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // Replies and pages go out unpaced; a download switches to the system's choice.
        leaveUnpaced(fd);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 128) == 0) {
            listenFD_ = sock.release();  // closed by stop() after the accept thread ended
            busyReplies_ = std::make_unique<BusyReplies>();
            port_ = port;
            running_ = true;
            acceptThread_ = std::thread([this] { acceptLoop(); });
            return true;
        }
    }
    return false;
}

void HTTPServer::stop() {
    running_ = false;
    const int fd = listenFD_.load();
    // Closing alone does not wake a blocked accept on Linux; shutting the socket down does.
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    if (acceptThread_.joinable()) acceptThread_.join();
    if (fd >= 0) {
        ::close(fd);
        listenFD_ = -1;
    }
    busyReplies_.reset();
    // A connection waiting for its next request ends at once; one handling a request
    // still writes its reply (only the reading side is shut), then sees the stop.
    {
        std::lock_guard lock(connectionsLock_);
        for (ConnectionSlot& slot : connections_) {
            if (slot.fd) ::shutdown(slot.fd.get(), SHUT_RD);
        }
    }
    // No thread adds slots any more (a thread letting go of its slot finds running_
    // false under the lock); finished threads only mark theirs.
    for (ConnectionSlot& slot : connections_) {
        if (slot.thread.joinable()) slot.thread.join();
    }
    connections_.clear();
}

void HTTPServer::acceptLoop() {
    auto noted = std::chrono::steady_clock::now();
    while (running_) {
        // Wakes at least once a second to note what each connection has moved.
        pollfd listening{listenFD_, POLLIN, 0};
        const bool ready = ::poll(&listening, 1, 1000) > 0;
        if (std::chrono::steady_clock::now() - noted >= std::chrono::seconds(1)) {
            noteTraffic();
            noted = std::chrono::steady_clock::now();
        }
        if (!ready) continue;
        UniqueFd conn(::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC));
        if (!conn) {
            if (errno != EINTR && running_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        reapFinishedConnections();
        // An address holding its share, or a full server with no slot to give (see
        // startConnection), drops the newcomer at once rather than queueing it.
        const std::string address = peerIP(conn.get());
        if (!running_) continue;
        setTimeouts(conn.get(), options_.idleTimeout);
        // Downloads send the head and the file in separate writes; without this the
        // file's first bytes wait for the client's delayed acknowledgement of the head.
        const int one = 1;
        setsockopt(conn.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        shortenLossRecovery(conn.get());  // an older kernel keeps its own floor
        startConnection(std::move(conn), address);
    }
}

void HTTPServer::startConnection(UniqueFd conn, const std::string& address) {
    std::lock_guard lock(connectionsLock_);
    const std::unordered_map<std::string, int> held = slotsByAddress();
    const auto mine = held.find(address);
    if (mine != held.end() && mine->second >= options_.maxPerAddress) {
        busyReplies_->refuse(std::move(conn));
        return;
    }
    const double at = now();
    if (openConnections_ < options_.maxConnections) {
        launch(std::move(conn), address, at);
        return;
    }
    ConnectionSlot* closed = evictForNewcomer(address, at);
    if (!closed) {
        busyReplies_->refuse(std::move(conn));
        return;
    }
    // The closed connection's thread may still be in its handler, holding its descriptor:
    // the slot stays taken until that thread lets go, and is the newcomer's meanwhile.
    closed->heir = std::move(conn);
    closed->heirAddress = address;
    closed->heirTraffic.open(at);
}

void HTTPServer::launch(UniqueFd conn, const std::string& address, double at) {
    ConnectionSlot& slot = connections_.emplace_back();
    slot.fd = std::move(conn);
    slot.address = address;
    slot.traffic.open(at);
    ++openConnections_;
    slot.thread = std::thread([this, &slot] {
        serve(slot);
        letGo(slot);
    });
}

void HTTPServer::letGo(ConnectionSlot& slot) {
    std::lock_guard done(connectionsLock_);
    slot.fd.reset();
    slot.finished = true;
    --openConnections_;
    // Once stop() has begun, no slot is added: it joins the threads it found.
    if (slot.heir && running_) launch(std::move(slot.heir), slot.heirAddress, now());
    slot.heir.reset();
}

bool HTTPServer::holdsSlot(const ConnectionSlot& slot) {
    return !slot.finished && slot.phase != ConnectionSlot::evicted;
}

std::unordered_map<std::string, int> HTTPServer::slotsByAddress() const {
    std::unordered_map<std::string, int> held;
    for (const ConnectionSlot& slot : connections_) {
        if (holdsSlot(slot)) ++held[slot.address];
        if (slot.heir) ++held[slot.heirAddress];
    }
    return held;
}

int HTTPServer::connectionsOf(const std::string& address) {
    std::lock_guard lock(connectionsLock_);
    return int(std::count_if(connections_.begin(), connections_.end(), [&](const ConnectionSlot& slot) {
        return holdsSlot(slot) && slot.address == address;
    }));
}

void HTTPServer::noteTraffic() {
    std::lock_guard lock(connectionsLock_);
    const double at = now();
    const double paceAt = bodyClockSeconds();
    for (ConnectionSlot& slot : connections_) {
        if (!holdsSlot(slot)) continue;
        slot.traffic.note(at, bytesMoved(slot.fd.get()));
        keepReplyPace(slot, paceAt);
    }
}

double HTTPServer::recentRate(ConnectionSlot& slot, double at) const {
    return slot.traffic.rate(at, bytesMoved(slot.fd.get()));
}

void HTTPServer::keepReplyPace(ConnectionSlot& slot, double at) {
    const int fd = slot.fd.get();
    // Only bytes waiting for the reader count: a handler still working, or a connection
    // reading, is no reply falling behind.
    if (slot.phase != ConnectionSlot::answering || bytesUnsent(fd) == 0) {
        slot.unsentSince = 0;
        return;
    }
    const int64_t taken = bytesTaken(fd);
    if (slot.unsentSince == 0) {
        slot.unsentSince = at;
        slot.takenThen = taken;
        return;
    }
    const double grace = std::chrono::duration<double>(options_.bodyGrace).count();
    const double owed = double(options_.bodyMinRate) * (at - slot.unsentSince - grace);
    if (owed > 0 && double(taken - slot.takenThen) < owed) ::shutdown(fd, SHUT_RDWR);
}

int HTTPServer::idleConnections() {
    std::lock_guard lock(connectionsLock_);
    return int(std::count_if(connections_.begin(), connections_.end(), [](const ConnectionSlot& slot) {
        return !slot.finished && slot.phase == ConnectionSlot::idle;
    }));
}

double HTTPServer::bodyClockSeconds() const {
    const auto at = options_.bodyClock ? options_.bodyClock() : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

BodyPace HTTPServer::bodyPace() const {
    return BodyPace{options_.bodyGrace, options_.bodyMinRate, options_.idleTimeout, options_.bodyClock};
}

void HTTPServer::reapFinishedConnections() {
    std::list<ConnectionSlot> finished;
    {
        std::lock_guard lock(connectionsLock_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            const auto next = std::next(it);
            if (it->finished) finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    for (ConnectionSlot& slot : finished) slot.thread.join();
}

std::string HTTPServer::peerIP(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return "";
    char text[64] = {};
    if (!inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text)) return "";
    return text;
}

bool HTTPServer::readWhileIdle(ConnectionSlot& slot, ReadBuffer& buf) {
    slot.idleSince = steadyNanos();
    // A slot evicted while busy stays evicted.
    int busy = ConnectionSlot::busy;
    if (!slot.phase.compare_exchange_strong(busy, ConnectionSlot::idle)) return false;
    if (options_.onIdle) options_.onIdle(slot.address);
    // The first bytes stay in the socket until the slot is claimed back, so that the
    // accept thread sees them and never closes the connection as idle meanwhile.
    if (!awaitBytes(slot.fd.get())) return false;
    return claimBack(slot) && buf.readFrom(slot.fd.get(), kReadBlock);
}

bool HTTPServer::claimBack(ConnectionSlot& slot) {
    while (true) {
        int idle = ConnectionSlot::idle;
        if (slot.phase.compare_exchange_strong(idle, ConnectionSlot::busy)) return true;
        // Claimed: the accept thread is looking whether bytes came, for a moment.
        if (idle != ConnectionSlot::claimed) return false;
        std::this_thread::yield();
    }
}

bool HTTPServer::readHead(ConnectionSlot& slot, ReadBuffer& buf, size_t& headEnd) {
    const int fd = slot.fd.get();
    if (buf.size() == 0 && !readWhileIdle(slot, buf)) return false;
    size_t searched = 0;  // bytes already searched for the blank line
    std::optional<std::chrono::steady_clock::time_point> deadline;
    while (true) {
        if (buf.size() >= 4) {
            const size_t at = buf.view().find("\r\n\r\n", searched >= 3 ? searched - 3 : 0);
            if (at != std::string_view::npos) {
                headEnd = at + 4;
                if (deadline) setReceiveTimeout(fd, options_.idleTimeout);
                return true;
            }
            searched = buf.size();
        }
        // Once a head has begun it must be whole within the head time-out, however
        // slowly its bytes trickle in; the idle time-out alone applies per read.
        if (buf.size() > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (!deadline) deadline = now + options_.headTimeout;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now);
            if (left.count() <= 0) return false;
            setReceiveTimeout(fd, std::min(left, options_.idleTimeout));
        }
        if (!buf.readFrom(fd, kReadBlock) || buf.size() > kMaxHead) return false;
    }
}

void HTTPServer::serve(ConnectionSlot& slot) {
    const int fd = slot.fd.get();
    const std::string& peer = slot.address;
    ReadBuffer buf;
    ReplyBatch replies(fd);

    if (!running_) return;
    while (true) {
        size_t headEnd = 0;
        if (!readHead(slot, buf, headEnd)) return;

        auto parsed = parseHead(buf.view().substr(0, headEnd));
        if (!parsed) return;
        HTTPReq req = std::move(*parsed);

        // Only content-length frames a body; a chunked body would be read as the next request.
        if (req.headers.count("transfer-encoding")) {
            sendJSON(fd, 400, errorJSON("unsupported transfer-encoding"));
            return;
        }
        const std::string lengthText = req.header("content-length");
        if (isOverlongNumber(lengthText)) return;
        const int64_t length = parseIntText(lengthText).value_or(0);
        // The body bytes that came with the head (never past the announced length).
        const size_t early = length > 0 ? size_t(std::min<int64_t>(length, int64_t(buf.size() - headEnd))) : 0;

        // Streamed rows leave the loop before their body is read, past every gate;
        // the handler reads the body itself. The connection closes afterwards unless
        // the handler read exactly the body and hands it back.
        RouteTable::Match match = routes_.find(req.method, req.path);
        if (match.route && match.route->facts.streamed) {
            std::string bodyStart(buf.view().substr(headEnd, early));
            buf.consume(headEnd + early);
            const bool more = beginsWithWholeRequest(buf.view());
            replies.beforeHandling(early == size_t(length), more);
            if (!handOver(fd, peer, req, match, length, std::move(bodyStart)) || !running_) return;
            replies.afterHandling(more);
            continue;
        }

        const int64_t maxBody = match.route ? match.route->facts.maxBody : kControlBody;
        if (length < 0) return;
        if (length > maxBody) {
            refuseOversizeBody(fd, peer, req, match);
            return;
        }
        // Bodies are held whole in memory: all connections together stay within the budget.
        buf.consume(headEnd);
        if (early < size_t(length)) continueIfExpected(fd, req);
        BodyReservation reservation(bodyBudget_, peer, length, [fd] { ::shutdown(fd, SHUT_RDWR); });
        const BodyRead read = readHeldBody(fd, buf, size_t(length), req.body, reservation, BodyClock(bodyPace()));
        if (read == BodyRead::busy) {
            sendJSON(fd, 503, errorJSON("busy"));
            drainBeforeClose(fd);
            return;
        }
        if (read == BodyRead::cut) return;

        // From here the request is answered, its handler shielded while it works with
        // nothing of its reply unsent; one closed while its body came is not handled.
        slot.answeringSince = steadyNanos();
        const bool more = beginsWithWholeRequest(buf.view());
        replies.beforeHandling(true, more);
        int reading = ConnectionSlot::busy;
        if (!slot.phase.compare_exchange_strong(reading, ConnectionSlot::answering)) return;
        const Handled handled = handle(fd, req, peer, match);
        replies.afterHandling(more);
        if (handled.afterReply) handled.afterReply();
        int answering = ConnectionSlot::answering;
        if (!slot.phase.compare_exchange_strong(answering, ConnectionSlot::busy)) return;
        // After stop, a connection answers the request in hand and then closes.
        if (!handled.keepOpen || !running_) return;
    }
}

void HTTPServer::refuseOversizeBody(int fd, const std::string& peerIP, const HTTPReq& req, RouteTable::Match& match) {
    // The body is never read as a next request: every answer here ends the connection,
    // drained first so that the client reads it.
    if (!admits(fd, req, routes_.factsFor(req.path))) {
        drainBeforeClose(fd);
        return;
    }
    if (!match.route) return;
    Connection c{*this, fd, peerIP, req, std::move(match.captures), {}, 0};
    if (match.route->headCheck && !match.route->headCheck(c)) {
        drainBeforeClose(fd);
        return;
    }
    const std::string& text = match.route->facts.oversizeError;
    if (text.empty()) return;
    const auto body = encodeJSONBody(errorJSON(text));
    respond(fd, 413, {{"Content-Type", "application/json; charset=utf-8"}}, body.value_or(""), req.method == "HEAD");
    drainBeforeClose(fd);
}

bool HTTPServer::handOver(int fd, const std::string& peer, const HTTPReq& req, RouteTable::Match& match,
                          int64_t length, std::string bodyStart) {
    if (!hostAllowed(req.header("host"))) {
        sendJSON(fd, 403, errorJSON("host not allowed"));
        drainBeforeClose(fd);
        return false;
    }
    Connection c{*this, fd, peer, req, std::move(match.captures), std::move(bodyStart), length, false, bodyPace()};
    match.route->handler(c);
    return c.handBack;
}

}  // namespace corvane
