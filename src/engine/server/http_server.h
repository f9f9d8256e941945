#pragma once
// The embedded HTTP/1.1 server: one accept thread, one thread per connection,
// persistent connections carrying several requests one after another.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/body_pace.h"
#include "base/unique_fd.h"
#include "engine/server/body_budget.h"
#include "engine/server/busy_replies.h"
#include "engine/server/room_choice.h"
#include "engine/server/connection_traffic.h"
#include "engine/server/http_request.h"
#include "engine/model.h"
#include "engine/server/route_table.h"
#include "engine/receiving/upload_records.h"

namespace corvane {

// What GET /api/peers serves: this device, the devices it knows, and whether it lists them.
struct PeersSnapshot {
    nlohmann::json me = nlohmann::json::object();
    std::vector<nlohmann::json> peers;
    bool enabled = false;
};

// Bounds of the read-once store: notes beyond them are refused, never evicted unread.
struct BurnLimits {
    size_t maxNotes = 256;
    size_t maxBytes = size_t(256) << 20;
};

// The steps of a finish that stores an upload, in order: its part folder claimed, the
// file built in it, the file's new name noted on it, the file moved into the receive
// folder, the claim set aside, the reply sent.
enum class FinishStep { claimed, built, noted, stored, setAside, answered };

struct ServerOptions {
    int firstPort = 8899;
    int lastPort = 8918;
    // Adds an extension's rows (the storage routes) to the table; called once by the constructor.
    std::function<void(RouteTable&)> addRoutes;
    std::chrono::milliseconds idleTimeout{120000};  // a read or write waiting this long closes the connection
    // When every connection is taken, a newcomer closes one chosen by the rule every room
    // shares (room_choice.h, connection_room.cpp): an idle one first, the one idle longest;
    // else the one moving the fewest bytes for the other side (a body read, a reply taken
    // by its reader) below 64 KB/s, wherever it is; else, when one address holds more than
    // four and more than the newcomer's would once admitted, that address's connection
    // moving the fewest. A handler still working with nothing of its reply unsent is not
    // closed within `workingShield`.
    // A closed connection keeps its slot for the newcomer until its thread lets go of it.
    // A newcomer with no connection to close, or whose address holds its share, is
    // answered 503 {"error":"busy"}.
    int maxConnections = 256;
    int maxPerAddress = 32;  // connections one address may hold at once
    std::chrono::milliseconds workingShield{120000};
    // A request head must be whole this long after its first byte arrived.
    std::chrono::milliseconds headTimeout{30000};
    // Memory for request bodies held across all connections, counted as their bytes come
    // (streamed rows not counted). A sixteenth of it is kept for bodies of at most 64 KiB;
    // one address holds at most a quarter of it; a body within its address's share makes
    // room by cutting bodies by the rooms' rule (body_budget.h).
    int64_t bodyBudget = int64_t(256) << 20;
    // A body, buffered or streamed, is cut when t after it began fewer than
    // bodyMinRate × (t − bodyGrace) of its bytes have come; one that keeps this pace is
    // never cut for time. A reply is ended alike when, t after bytes of it began to wait
    // unsent, its reader has taken fewer than bodyMinRate × (t − bodyGrace).
    std::chrono::milliseconds bodyGrace{20000};
    int64_t bodyMinRate = 500;  // bytes per second
    // The time bodies keep their pace by; the steady clock when empty.
    std::function<std::chrono::steady_clock::time_point()> bodyClock;
    // The team-mode switch ("nasExt"), asked on every request; off when empty.
    std::function<bool()> nasExt;
    // Seconds since 1970; the system clock when empty.
    std::function<double()> clock;
    BurnLimits burnLimits;
    // Unfinished uploads held at once, in all and per address.
    UploadLimits uploadLimits;
    // Receive tasks kept; beyond them the oldest finished one goes, else the oldest.
    size_t maxReceiveTasks = 1000;
    // The application keeps every read-once note it is told of until it shows it: such
    // notes count against burnLimits until burnShown() releases them.
    bool burnsAwaitDisplay = false;
    // Called on a connection's thread, with the peer's address, each time the connection
    // begins to wait idle for its next request; tests hold a connection there.
    std::function<void(const std::string&)> onIdle;
    // Called on the finish's thread as a finish that stores an upload passes each step;
    // tests stop the process there to see what a kill at that moment leaves.
    std::function<void(FinishStep)> onFinishStep;
    // Called on the accept thread, with the peer's address, when it has chosen an idle
    // connection to close for a newcomer, before it claims the slot and looks whether a
    // request has begun; tests send one there.
    std::function<void(const std::string&)> onIdleChosen;
};

// Progress of one incoming upload, as the receive panel and GET /api/receive-tasks show it.
struct ReceiveTask {
    std::string id;
    std::string name;
    int64_t size = 0;
    int64_t received = 0;
    double speed = 0;      // bytes per second; 0 when finished
    std::string from;
    std::string state = "接收中";
    double doneAt = 0;       // seconds since 1970 when the state left "接收中"
    double lastChunkAt = 0;  // seconds since 1970 of the last chunk

    explicit ReceiveTask(std::string taskID) : id(std::move(taskID)) {}
};

// A stored read-once note.
struct BurnItem {
    std::string text;
    std::string from;
    double at = 0;  // seconds since 1970
};

// The receive folder and its ".parts" folder, read together.
struct ReceiveDirs {
    std::filesystem::path root;
    std::filesystem::path parts;
};

class ReadBuffer;

class HTTPServer {
public:
    HTTPServer(std::string deviceID, std::string deviceName, std::string token, std::string pin,
               std::filesystem::path root, ServerOptions options = {});
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Creates the folders, binds the first free port of the range and starts accepting.
    bool start();
    // Stops accepting, lets each connection finish the request it is handling, ends
    // the ones waiting for a request, and joins every connection thread.
    void stop();

    static std::string peerIP(int fd);
    static bool hostMatches(const std::string& origin, const std::string& host);
    // Whether a Host header names this device: an IP literal, "localhost", a ".local"
    // name or this machine's host name, any port; an absent header passes.
    static bool hostAllowed(const std::string& host);
    bool tokenOK(const HTTPReq& req) const;
    // Whether the connection stays open after the reply (no "close" in Connection).
    static bool keepsAlive(const HTTPReq& req);
    // The origin (token) and PIN gates with the facts of the request's row; false when
    // one refused the request, its reply sent. Streamed rows, which pass no gate, call it.
    bool passesOriginAndPin(int fd, const HTTPReq& req, const RouteFacts& facts) const;

    const std::string& deviceID() const { return deviceID_; }
    std::string deviceName() const;
    void setDeviceName(std::string name);
    std::string token() const;
    void setToken(std::string token);
    std::string pin() const;
    void setPin(std::string pin);
    std::filesystem::path root() const;
    std::filesystem::path parts() const;
    ReceiveDirs receiveDirs() const;
    // Replaces the receive folder and its ".parts" folder together.
    void setRoot(std::filesystem::path root);

    int port() const { return port_; }
    int listenFD() const { return listenFD_; }
    bool running() const { return running_; }
    // Connections holding a slot: served ones, closed ones whose thread has not let go yet.
    int openConnections() const { return openConnections_; }
    // Connections waiting for the first byte of their next request.
    int idleConnections();
    // Memory held by the bodies of requests being read or handled, out of the options' budget.
    int64_t bodyBytesHeld() const { return bodyBudget_.held(); }
    const RouteTable& routes() const { return routes_; }

    // Set before start(); called on connection threads.
    std::function<void(const ServerEvent&)> onEvent;
    std::function<PeersSnapshot()> peersProvider;
    void emit(const ServerEvent& event) const;

    // Seconds since 1970 from the server's clock.
    double now() const;
    // The team-mode switch as it stands for this request.
    bool nasExtOn() const;

    // Receive folder listing: every file, sorted as a file browser sorts them.
    std::vector<FileItem> listFiles() const;
    // Points the server at another receive folder, creating it and its ".parts".
    void switchRoot(const std::filesystem::path& folder);

    // Receive tasks: find the task of the id, or make it (first filled by `made`, when
    // given: the upload's name and size from its meta), and change it, under the receive
    // lock.
    void withReceiveTask(const std::string& id, const std::function<void(ReceiveTask&)>& change,
                         const std::function<void(ReceiveTask&)>& made = {});
    // Copies of the tasks in creation order; drops tasks finished 8 s ago or more.
    std::vector<ReceiveTask> receiveTasksSnapshot();

    // Read-once notes: the new note's id, or none when the store is full.
    std::optional<std::string> storeBurn(const std::string& text, const std::string& from);
    // The application shows the note: it no longer holds a copy waiting in line.
    void burnShown(const std::string& id);
    int burnsAwaitingDisplay();
    // Removes the note; returns it unless it was unknown or expired.
    std::optional<BurnItem> takeBurn(const std::string& id);
    // The one-time page of a note (GET /b/<id>).
    void burnPage(int fd, const std::string& id);

    // One file of the receive folder, whole or one byte range, for GET and HEAD.
    void download(int fd, const std::string& rel, const HTTPReq& req);

    // Route handlers of the peer rows (peer_routes.cpp).
    void routeInfo(Connection& c);
    void routePeers(Connection& c);
    void routeFiles(Connection& c);
    void routeReceiveTasks(Connection& c);
    void routeText(Connection& c);
    void routeChat(Connection& c);
    void routeChatBurn(Connection& c);
    void routeBurnRead(Connection& c);
    void routeDeleteFile(Connection& c);
    // The chunked upload protocol (receiving side).
    void uploadStatus(Connection& c);
    void uploadMeta(Connection& c);
    void uploadChunk(Connection& c);
    void uploadFinish(Connection& c);
    void routeDeleteUpload(Connection& c);

private:
    // One accepted connection and the thread serving it; the descriptor is closed
    // under connectionsLock_, so stop() never shuts down a reused number.
    struct ConnectionSlot {
        enum Phase { busy, idle, claimed, evicted, answering };
        UniqueFd fd;
        std::string address;  // the peer's IPv4 address
        std::thread thread;
        bool finished = false;
        // Idle while waiting for the first byte of a request head; answering once the
        // request is read whole, until its handler returns. Evicted by the accept thread,
        // under connectionsLock_, to make room for a newcomer: from idle (claimed for the
        // moment it looks whether a request has begun to arrive), else from busy or
        // answering (its socket shut, its handler's writes fail and it returns). The
        // serving thread moves between its phases without the lock, each move one
        // compare-and-swap.
        std::atomic<int> phase{busy};
        std::atomic<int64_t> idleSince{0};       // steady-clock nanoseconds
        std::atomic<int64_t> answeringSince{0};  // steady-clock nanoseconds
        TrafficMeter traffic;                    // under connectionsLock_
        // Under connectionsLock_: since when (by the body clock, in seconds) bytes of the
        // reply have waited unsent without end, and how many its reader had taken then.
        double unsentSince = 0;
        int64_t takenThen = 0;
        // The newcomer an evicted slot was closed for, with its address and traffic: it is
        // served in this slot's place once the thread has let go (under connectionsLock_).
        UniqueFd heir;
        std::string heirAddress;
        TrafficMeter heirTraffic;
    };

    struct JSONReply {
        int status;
        nlohmann::json body;
        // A finished upload's claimed part folder: emptied and kept as a spare after
        // the reply, so the sender does not wait for it.
        std::filesystem::path spentFolder = {};
        int error = 0;  // of a failure: errno, answered as the storage's fault when it is one
    };
    // A 500 with the text, keeping errno.
    static JSONReply failedReply(const char* text);
    // Done at start: removes the part folders of uploads nobody touched for a week and
    // what an earlier run left aside, gives interrupted finishes their folders back, and
    // reads the owners of the rest.
    void removeAbandonedUploads();
    // Claims the upload's part folder and joins its chunks into the receive folder.
    JSONReply joinUpload(const std::string& id, const std::string& peerIP);

    void acceptLoop();
    // Serves the newcomer in a slot of its own, or in the place of one closed for it, or
    // turns it away.
    void startConnection(UniqueFd conn, const std::string& address);
    // Gives the connection a slot and a thread to serve it; under connectionsLock_.
    void launch(UniqueFd conn, const std::string& address, double at);
    // The end of a slot's thread: closes its connection and lets go of the slot, to the
    // newcomer it was closed for when there is one.
    void letGo(ConnectionSlot& slot);
    void reapFinishedConnections();
    static bool holdsSlot(const ConnectionSlot& slot);
    // The slots each address holds, a newcomer waiting for an evicted slot counted with
    // its own address. Called under connectionsLock_, as the ones below.
    std::unordered_map<std::string, int> slotsByAddress() const;
    // The connections the address holds open; takes connectionsLock_, which is never held
    // while the upload records are asked.
    int connectionsOf(const std::string& address);
    // Notes the bytes each connection has moved so far (about once a second), and ends
    // replies whose readers fell behind the pace.
    void noteTraffic();
    // Bytes per second the connection has moved lately.
    double recentRate(ConnectionSlot& slot, double at) const;
    // A reply whose reader takes it slower than a body's minimum pace is ended; under
    // connectionsLock_.
    void keepReplyPace(ConnectionSlot& slot, double at);
    // Closes the connection the room's rule chooses for a newcomer of `address`; none
    // when none may go.
    ConnectionSlot* evictForNewcomer(const std::string& address, double at);
    // The connections as units of the room, with the newcomers waiting for a slot (never
    // chosen); `slots` gets the slot of each unit, null for a newcomer.
    std::vector<RoomUnit> slotUnits(std::vector<ConnectionSlot*>& slots, double at);
    // Closes an idle slot unless its next request has begun to arrive; false then.
    bool evictIfStillIdle(ConnectionSlot& slot);
    // Marks a slot reading or answering evicted and shuts its socket; false when it went
    // idle meanwhile.
    static bool evictServing(ConnectionSlot& slot);
    BodyPace bodyPace() const;
    // Seconds by the clock bodies and replies keep their pace by.
    double bodyClockSeconds() const;
    void serve(ConnectionSlot& slot);
    // Reads until the head that begins at start is whole; false closes the connection.
    bool readHead(ConnectionSlot& slot, ReadBuffer& buf, size_t& headEnd);
    // Waits idle for the first bytes of the next request, claims the slot back, then reads them.
    bool readWhileIdle(ConnectionSlot& slot, ReadBuffer& buf);
    // Moves the slot from idle back to busy; false when it was closed for a newcomer.
    static bool claimBack(ConnectionSlot& slot);
    // Gives a streamed row the connection, its body unread; whether the handler hands
    // the connection back for the next request.
    bool handOver(int fd, const std::string& peer, const HTTPReq& req, RouteTable::Match& match, int64_t length,
                  std::string bodyStart);
    // The gates in their order (Host, preflight, origin, PIN, team mode) with the facts
    // of the request's path; false when one answered the request.
    bool admits(int fd, const HTTPReq& req, const RouteFacts& facts) const;
    // What handling a request left for the connection reader.
    struct Handled {
        bool keepOpen = false;             // the connection stays open
        std::function<void()> afterReply;  // to run once the reply has left
    };
    // The gates, then route(). `match` is the row the connection reader found for the request.
    Handled handle(int fd, const HTTPReq& req, const std::string& peerIP, RouteTable::Match& match);
    // The row's handler; the work it left for after the reply.
    std::function<void()> route(int fd, const HTTPReq& req, const std::string& peerIP, RouteTable::Match& match);
    // A body longer than its row takes is never read: the gates and the row's headCheck
    // answer first, then 413 when the row has a text for it; the connection then closes.
    void refuseOversizeBody(int fd, const std::string& peerIP, const HTTPReq& req, RouteTable::Match& match);

    const std::string deviceID_;
    mutable std::mutex fieldsLock_;  // guards the five fields below
    std::string deviceName_;
    std::string token_;
    std::string pin_;
    std::filesystem::path root_;
    std::filesystem::path parts_;

    const ServerOptions options_;
    const RouteTable routes_;
    std::atomic<int> port_{0};
    std::atomic<int> listenFD_{-1};
    std::atomic<bool> running_{false};
    std::thread acceptThread_;

    std::mutex connectionsLock_;  // guards connections_ and every slot's fd and finished
    std::list<ConnectionSlot> connections_;
    std::atomic<int> openConnections_{0};  // slots not let go of, evicted ones included
    std::unique_ptr<BusyReplies> busyReplies_;  // while running
    BodyBudget bodyBudget_;

    // Owners and chunks in flight of the unfinished uploads.
    UploadRecords uploads_{options_.uploadLimits, [this] { return now(); },
                           [this](const std::string& address) { return connectionsOf(address); }};

    std::mutex recvLock_;  // guards recvTasks_, recvOrder_ and every field of their tasks
    std::unordered_map<std::string, ReceiveTask> recvTasks_;
    std::vector<std::string> recvOrder_;

    std::mutex burnLock_;  // guards burns_, awaitingDisplay_ and their byte counts
    std::unordered_map<std::string, BurnItem> burns_;
    size_t burnBytes_ = 0;
    std::unordered_map<std::string, size_t> awaitingDisplay_;  // note id to bytes held by the application
};

}  // namespace corvane
