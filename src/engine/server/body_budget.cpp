#include "engine/server/body_budget.h"

#include <algorithm>

namespace corvane {

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
    if (held_ + bytes > total_) return false;
    if (body.small_) return true;
    const auto it = byAddress_.find(body.address_);
    const int64_t mine = it == byAddress_.end() ? 0 : it->second;
    return sharedHeld_ + bytes <= sharedRoom() && mine + bytes <= perAddress_;
}

std::unordered_map<std::string, int64_t> BodyBudget::holdings() const {
    std::unordered_map<std::string, int64_t> holding;
    for (const BodyReservation* body : bodies_) {
        if (!body->small_ && !body->wasCut_) holding[body->address_] += body->bytes_;
    }
    return holding;
}

int64_t BodyBudget::fairShare(const std::unordered_map<std::string, int64_t>& holding,
                              const std::string& address) const {
    const int64_t addresses = int64_t(holding.size()) + (holding.count(address) ? 0 : 1);
    return std::min(perAddress_, sharedRoom() / addresses);
}

bool BodyBudget::makeRoom(const BodyReservation& body, int64_t bytes) {
    if (body.small_) return false;
    std::unordered_map<std::string, int64_t> holding = holdings();
    const int64_t share = fairShare(holding, body.address_);
    if (holding[body.address_] + bytes > share) return false;
    // Bodies cut before make their room once they let go of it.
    int64_t shortfall = std::max(sharedHeld_ + bytes - sharedRoom(), held_ + bytes - total_) - leaving_;
    if (shortfall <= 0) return true;

    // Max-min: the address holding the most gives way, its slowest body first, for as long
    // as it holds more than its fair share. A body moving fast is making progress and stays.
    const double at = clock_();
    std::vector<BodyReservation*> chosen;
    while (shortfall > 0) {
        BodyReservation* slowest = nullptr;
        double slowestRate = 0;
        for (BodyReservation* other : bodies_) {
            if (other->small_ || other->wasCut_ || other->settled_ || other->bytes_ == 0) continue;
            if (std::find(chosen.begin(), chosen.end(), other) != chosen.end()) continue;
            const int64_t theirs = holding[other->address_];
            if (theirs <= share) continue;
            const double rate = other->traffic_.rate(at, other->delivered_);
            if (rate > kNeverCutRate) continue;
            if (slowest) {
                const int64_t most = holding[slowest->address_];
                if (theirs < most || (theirs == most && rate >= slowestRate)) continue;
            }
            slowest = other;
            slowestRate = rate;
        }
        if (!slowest) return false;
        chosen.push_back(slowest);
        holding[slowest->address_] -= slowest->bytes_;
        shortfall -= slowest->bytes_;
    }
    for (BodyReservation* cut : chosen) {
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
    : budget_(budget), address_(address), small_(length <= BodyBudget::smallBody), cut_(std::move(cut)) {}

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
