#pragma once
// Memory for request bodies that are read whole before their handler runs: one budget for
// all connections. A body takes its bytes as they come, never the length it announced: one
// that trickles in holds only what it has sent.
//
// Small bodies (sign-in, chat, a meta, a short text: at most 64 KiB announced) always find
// room: a sixteenth of the budget is kept for them alone, which at 256 MiB holds a small
// body on each of the server's 256 connections at once. Larger bodies share the rest, an
// address at most a quarter of it. When there is no room, larger bodies being read are cut
// (their connections close) by the rule every room shares (room_choice.h), each body a
// unit, its progress the bytes per second it brings, its floor 64 KB/s, two per address
// its guaranteed few, until they free what the rest of the asking body needs; the room
// they free is that body's until it has taken it or ended.

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/server/connection_traffic.h"

namespace corvane {

class BodyReservation;

class BodyBudget {
public:
    // The largest body that counts as small.
    static constexpr int64_t smallBody = 65536;

    // `clock` gives seconds (of any clock, always the same), to tell how fast bodies move.
    BodyBudget(int64_t total, int64_t perAddress, std::function<double()> clock);

    // Memory held by all bodies.
    int64_t held() const;

private:
    friend class BodyReservation;
    // Room the larger bodies may hold together.
    int64_t sharedRoom() const { return total_ - total_ / 16; }
    // Takes `bytes` for the body, `delivered` bytes of which have come, waiting while
    // bodies cut for it let go of their memory; false (nothing taken) when there is no room
    // to take or make, or the body was cut.
    bool take(BodyReservation& body, int64_t bytes, int64_t delivered);
    // The body ends: all it holds goes back.
    void leave(BodyReservation& body);
    // The body is whole: it is no longer cut to make room. False when it was cut before.
    bool settle(BodyReservation& body);
    bool wasCut(const BodyReservation& body) const;

    bool fits(const BodyReservation& body, int64_t bytes) const;
    // Cuts bodies that together let go of the shortfall; false (none cut) when there are
    // not enough of them. Called under lock_, as the ones below.
    bool makeRoom(BodyReservation& body, int64_t bytes);
    // What is missing for `bytes` more of the body once the bodies cut let go.
    int64_t shortfallFor(const BodyReservation& body, int64_t bytes) const;
    // Cuts the bodies the room's rule chooses to free `shortfall` bytes for the body; false
    // (none cut) when they cannot.
    bool cutFor(const BodyReservation& body, int64_t shortfall);

    const int64_t total_;
    const int64_t perAddress_;
    const std::function<double()> clock_;
    mutable std::mutex lock_;  // guards every field below and each body's fields
    std::condition_variable left_;  // a body let go of its memory, or was cut
    int64_t held_ = 0;
    int64_t sharedHeld_ = 0;  // by larger bodies
    int64_t leaving_ = 0;     // held by bodies cut, until they let go
    int64_t promised_ = 0;    // freed for bodies waiting to take it
    std::unordered_map<std::string, int64_t> byAddress_;  // larger bodies' bytes
    std::vector<BodyReservation*> bodies_;  // every body holding bytes
};

// The body bytes of one request held against the budget, all given back when it ends.
class BodyReservation {
public:
    // A body of `length` bytes announced by the address; `cut` closes its connection.
    BodyReservation(BodyBudget& budget, const std::string& address, int64_t length, std::function<void()> cut);
    ~BodyReservation();
    BodyReservation(const BodyReservation&) = delete;
    BodyReservation& operator=(const BodyReservation&) = delete;
    // Takes `bytes` more memory now that `delivered` bytes of the body have come; false
    // (nothing more taken) when there is no room, or the body was cut.
    bool grow(int64_t bytes, int64_t delivered);
    // The whole body has come: it is handled, never cut to make room. False when it was
    // cut before.
    bool settle();
    // Whether it was cut to make room for another body.
    bool wasCut() const;

private:
    friend class BodyBudget;
    BodyBudget& budget_;
    const std::string& address_;
    const int64_t length_;
    const bool small_;
    const std::function<void()> cut_;
    // Under the budget's lock once the body holds bytes:
    int64_t bytes_ = 0;
    int64_t delivered_ = 0;
    int64_t promised_ = 0;  // room made for it, not yet taken
    TrafficMeter traffic_;
    bool holding_ = false;  // listed in the budget
    bool settled_ = false;
    bool wasCut_ = false;
};

}  // namespace corvane
