#include "engine/server/http_server.h"

#include <sys/socket.h>

// The room of connection slots: each open connection a unit, its progress the bytes per
// second it moved over the last seconds (both ways, a reply counting what its reader
// took), its floor kProgressFloor; an idle one waits for its next request. Part of
// HTTPServer, under connectionsLock_.

namespace corvane {

namespace {

// Connections one honest device holds at once: the send queue's two uploads, a text, a
// connection kept open. Moving at the floor, they are never closed for a newcomer.
constexpr int64_t kGuaranteedConnections = 4;

// Whether bytes the connection's thread has not read yet wait in the socket.
bool bytesWaiting(int fd) {
    char byte = 0;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace

std::vector<RoomUnit> HTTPServer::slotUnits(std::vector<ConnectionSlot*>& slots, double at) {
    std::vector<RoomUnit> units;
    const int64_t nowNanos = steadyNanos();
    const int64_t shield = std::chrono::duration_cast<std::chrono::nanoseconds>(options_.workingShield).count();
    // The most recently opened first: of two alike, it goes.
    for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
        ConnectionSlot& slot = *it;
        if (!holdsSlot(slot)) continue;
        const int fd = slot.fd.get();
        const int phase = slot.phase;
        const double rate = recentRate(slot, at);
        const bool idle = phase == ConnectionSlot::idle && !bytesWaiting(fd);
        // A handler working on its reply with nothing of it waiting unsent (a finish
        // joining) is not closed for a while.
        const bool working = phase == ConnectionSlot::answering && bytesUnsent(fd) == 0 &&
                             nowNanos - slot.answeringSince < shield;
        const double quietSince = idle ? double(slot.idleSince) / 1e9 : slot.traffic.movedAt();
        units.push_back(RoomUnit{slot.address, 1, rate, rate < kProgressFloor, idle, quietSince, working});
        slots.push_back(&slot);
    }
    // A newcomer waiting for a slot closed for it holds that slot.
    for (ConnectionSlot& slot : connections_) {
        if (!slot.heir) continue;
        units.push_back(RoomUnit{slot.heirAddress, 1, 0, false, false, 0, true});
        slots.push_back(nullptr);
    }
    return units;
}

HTTPServer::ConnectionSlot* HTTPServer::evictForNewcomer(const std::string& address, double at) {
    // A slot whose phase changed between the look and the mark is looked at again.
    while (true) {
        std::vector<ConnectionSlot*> slots;
        const std::vector<RoomUnit> units = slotUnits(slots, at);
        const RoomChoice choice = chooseToGiveWay(units, RoomNewcomer{address, 1}, kGuaranteedConnections);
        if (choice.why == RoomChoice::Why::none) return nullptr;
        ConnectionSlot& slot = *slots[choice.unit];
        if (choice.why == RoomChoice::Why::idle) {
            if (options_.onIdleChosen) options_.onIdleChosen(slot.address);
            if (evictIfStillIdle(slot)) return &slot;
            continue;
        }
        if (evictServing(slot)) return &slot;
    }
}

bool HTTPServer::evictIfStillIdle(ConnectionSlot& slot) {
    // The serving thread leaves a request's first bytes in the socket until it has moved
    // its slot back from idle to busy, and waits while the slot is claimed: bytes that came
    // before the claim are seen here, and their request is never cut as idle.
    int idle = ConnectionSlot::idle;
    if (!slot.phase.compare_exchange_strong(idle, ConnectionSlot::claimed)) return false;
    if (bytesWaiting(slot.fd.get())) {
        slot.phase = ConnectionSlot::idle;
        return false;
    }
    slot.phase = ConnectionSlot::evicted;
    ::shutdown(slot.fd.get(), SHUT_RDWR);
    return true;
}

bool HTTPServer::evictServing(ConnectionSlot& slot) {
    // Only eviction, always under connectionsLock_, makes a slot evicted; the serving
    // thread sees it at its next change of phase, or when the shut socket fails it.
    int phase = slot.phase;
    while (phase == ConnectionSlot::busy || phase == ConnectionSlot::answering) {
        if (slot.phase.compare_exchange_weak(phase, ConnectionSlot::evicted)) {
            ::shutdown(slot.fd.get(), SHUT_RDWR);
            return true;
        }
    }
    return false;
}

}  // namespace corvane
