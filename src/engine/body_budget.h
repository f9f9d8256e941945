#pragma once
// Memory for request bodies that are read whole before their handler runs: one budget
// for all connections, of which any one address may hold at most a share, so that a
// single client sending huge bodies cannot leave the others answered "busy". A body
// takes its bytes as they come, never the length it announced: one that trickles in
// holds only what it has sent.

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace corvane {

class BodyBudget {
public:
    BodyBudget(int64_t total, int64_t perAddress);

    // Takes `bytes` for the address; false (nothing taken) when the budget or the
    // address's share has no room for them.
    bool take(const std::string& address, int64_t bytes);
    void giveBack(const std::string& address, int64_t bytes);
    int64_t held() const;

private:
    const int64_t total_;
    const int64_t perAddress_;
    mutable std::mutex lock_;  // guards held_ and byAddress_
    int64_t held_ = 0;
    std::unordered_map<std::string, int64_t> byAddress_;
};

// The body bytes of one request held against the budget, all given back when it ends.
class BodyReservation {
public:
    BodyReservation(BodyBudget& budget, const std::string& address);
    ~BodyReservation();
    BodyReservation(const BodyReservation&) = delete;
    BodyReservation& operator=(const BodyReservation&) = delete;
    // Takes `bytes` more as they come; false (nothing more taken) when there is no room.
    bool grow(int64_t bytes);

private:
    BodyBudget& budget_;
    const std::string& address_;
    int64_t bytes_ = 0;
};

}  // namespace corvane
