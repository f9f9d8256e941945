#include "engine/body_budget.h"

namespace corvane {

BodyBudget::BodyBudget(int64_t total, int64_t perAddress) : total_(total), perAddress_(perAddress) {}

bool BodyBudget::take(const std::string& address, int64_t bytes) {
    std::lock_guard guard(lock_);
    const auto it = byAddress_.find(address);
    const int64_t mine = it == byAddress_.end() ? 0 : it->second;
    if (bytes > total_ - held_ || bytes > perAddress_ - mine) return false;
    held_ += bytes;
    byAddress_[address] = mine + bytes;
    return true;
}

void BodyBudget::giveBack(const std::string& address, int64_t bytes) {
    std::lock_guard guard(lock_);
    held_ -= bytes;
    const auto it = byAddress_.find(address);
    if (it == byAddress_.end()) return;
    it->second -= bytes;
    if (it->second <= 0) byAddress_.erase(it);
}

int64_t BodyBudget::held() const {
    std::lock_guard guard(lock_);
    return held_;
}

BodyReservation::BodyReservation(BodyBudget& budget, const std::string& address) : budget_(budget), address_(address) {}

// Requests without a body, the most of them, never touch the lock.
BodyReservation::~BodyReservation() {
    if (bytes_ > 0) budget_.giveBack(address_, bytes_);
}

bool BodyReservation::grow(int64_t bytes) {
    if (bytes <= 0) return true;
    if (!budget_.take(address_, bytes)) return false;
    bytes_ += bytes;
    return true;
}

}  // namespace corvane
