#include "engine/server/body_budget.h"

#include <algorithm>

#include "engine/server/held_body.h"
#include "engine/server/room_choice.h"

namespace corvane {

namespace {

// Larger bodies one honest device sends at once (a long text and one more beside small ones):
// read at the floor, they are never cut for another body.
constexpr int64_t kGuaranteedBodies = 2;

}  // namespace

BodyBudget::BodyBudget(int64_t total, int64_t perAddress, std::function<double()> clock)
    : total_(total), perAddress_(perAddress), clock_(std::move(clock)) {}

int64_t BodyBudget::held() const {
    std::lock_guard guard(lock_);
    return held_;
}

bool BodyBudget::take(BodyReservation& body, int64_t bytes, int64_t delivered) {
    std::unique_lock guard(lock_);
    const double at = clock_();
    if (!body.holding_) {
        body.holding_ = true;
        body.traffic_.open(at);
        bodies_.push_back(&body);
    }
    body.delivered_ = delivered;
    body.traffic_.note(at, delivered);
    while (!body.wasCut_) {
        if (fits(body, bytes)) {
            held_ += bytes;
            body.bytes_ += bytes;
            // What it takes comes out of the room promised to it; the rest stays its own.
            const int64_t fromPromise = std::min(bytes, body.promised_);
            promised_ -= fromPromise;
            body.promised_ -= fromPromise;
            if (!body.small_) {
                sharedHeld_ += bytes;
                byAddress_[body.address_] += bytes;
            }
            return true;
        }
        if (!makeRoom(body, bytes)) return false;
        left_.wait(guard);
    }
    return false;
}

void BodyBudget::leave(BodyReservation& body) {
    std::lock_guard guard(lock_);
    held_ -= body.bytes_;
    if (body.wasCut_) leaving_ -= body.bytes_;
    if (!body.small_) {
        sharedHeld_ -= body.bytes_;
        const auto it = byAddress_.find(body.address_);
        if (it != byAddress_.end() && (it->second -= body.bytes_) <= 0) byAddress_.erase(it);
    }
    promised_ -= body.promised_;
    body.promised_ = 0;
    bodies_.erase(std::find(bodies_.begin(), bodies_.end(), &body));
    left_.notify_all();
}

bool BodyBudget::settle(BodyReservation& body) {
    std::lock_guard guard(lock_);
    body.settled_ = true;
    return !body.wasCut_;
}

bool BodyBudget::wasCut(const BodyReservation& body) const {
    std::lock_guard guard(lock_);
    return body.wasCut_;
}

bool BodyBudget::fits(const BodyReservation& body, int64_t bytes) const {
    const int64_t others = promised_ - body.promised_;
    if (held_ + others + bytes > total_) return false;
    if (body.small_) return true;
    const auto it = byAddress_.find(body.address_);
    const int64_t mine = it == byAddress_.end() ? 0 : it->second;
    return sharedHeld_ + others + bytes <= sharedRoom() && mine + bytes <= perAddress_;
}

bool BodyBudget::makeRoom(BodyReservation& body, int64_t bytes) {
    if (body.small_) return false;
    const auto found = byAddress_.find(body.address_);
    const int64_t mine = found == byAddress_.end() ? 0 : found->second;
    if (mine + bytes > perAddress_) return false;
    // Room is made for the rest of the body at once, within its address's limit, so that
    // what one cut frees is not taken by another body before the rest of this one comes;
    // else for this piece alone.
    const int64_t rest = int64_t(HeldBody::memoryFor(size_t(body.length_))) - body.bytes_;
    const int64_t whole = std::clamp(rest, bytes, perAddress_ - mine);
    for (const int64_t need : {whole, bytes}) {
        if (!cutFor(body, shortfallFor(body, need))) continue;
        // The room freed is this body's until it has taken it or ended: a body arriving
        // meanwhile, or cut and opened again at once, finds it taken.
        promised_ += need - body.promised_;
        body.promised_ = need;
        return true;
    }
    return false;
}

int64_t BodyBudget::shortfallFor(const BodyReservation& body, int64_t bytes) const {
    // Bodies cut before make their room once they let go of it.
    const int64_t others = promised_ - body.promised_;
    return std::max(sharedHeld_ + others + bytes - sharedRoom(), held_ + others + bytes - total_) - leaving_;
}

bool BodyBudget::cutFor(const BodyReservation& body, int64_t shortfall) {
    if (shortfall <= 0) return true;
    const double at = clock_();
    std::vector<BodyReservation*> candidates;
    std::vector<RoomUnit> units;
    for (BodyReservation* other : bodies_) {
        if (other->small_ || other->wasCut_ || other->bytes_ == 0) continue;
        const double rate = other->traffic_.rate(at, other->delivered_);
        candidates.push_back(other);
        // A body read whole is being handled: its memory is the handler's until it returns.
        RoomUnit unit{other->address_, 1, rate, rate < kProgressFloor, false, other->traffic_.movedAt(),
                      other == &body || other->settled_};
        unit.frees = other->bytes_;
        units.push_back(unit);
    }
    // Bodies are weighed as units: an address sending one large body steadily holds one.
    const int64_t asking = body.bytes_ > 0 ? 0 : 1;  // a body holding bytes is listed already
    const std::vector<size_t> chosen = chooseToFree(units, RoomNewcomer{body.address_, asking}, kGuaranteedBodies, shortfall);
    if (chosen.empty()) return false;
    for (size_t k : chosen) {
        BodyReservation* cut = candidates[k];
        cut->wasCut_ = true;
        leaving_ += cut->bytes_;
        cut->cut_();
    }
    // A body cut while it waits for room of its own stops waiting.
    left_.notify_all();
    return true;
}

BodyReservation::BodyReservation(BodyBudget& budget, const std::string& address, int64_t length,
                                 std::function<void()> cut)
    : budget_(budget), address_(address), length_(length), small_(length <= BodyBudget::smallBody), cut_(std::move(cut)) {}

// Requests without a body, the most of them, never touch the lock.
BodyReservation::~BodyReservation() {
    if (holding_) budget_.leave(*this);
}

bool BodyReservation::grow(int64_t bytes, int64_t delivered) {
    if (bytes <= 0 && !holding_) return true;
    return budget_.take(*this, std::max<int64_t>(bytes, 0), delivered);
}

bool BodyReservation::settle() { return !holding_ || budget_.settle(*this); }

bool BodyReservation::wasCut() const { return holding_ && budget_.wasCut(*this); }

}  // namespace corvane
