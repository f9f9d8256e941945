#include "engine/server/room_choice.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace corvane {

namespace {

bool choosable(const RoomUnit& unit) { return !unit.working; }

std::unordered_map<std::string, int64_t> holdings(const std::vector<RoomUnit>& units) {
    std::unordered_map<std::string, int64_t> held;
    for (const RoomUnit& unit : units) held[unit.address] += unit.weight;
    return held;
}

// Whether the unit goes before the one chosen so far: less progress, then quiet longer;
// of two alike, the one listed first (each room lists its units in the order it would
// have them give way).
bool goesBefore(const RoomUnit& unit, const RoomUnit& chosen) {
    if (unit.progress != chosen.progress) return unit.progress < chosen.progress;
    return unit.quietSince < chosen.quietSince;
}

std::optional<size_t> longestIdle(const std::vector<RoomUnit>& units) {
    std::optional<size_t> chosen;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        if (!choosable(unit) || !unit.idle) continue;
        if (!chosen || unit.quietSince < units[*chosen].quietSince) chosen = k;
    }
    return chosen;
}

std::optional<size_t> leastProgressBelowFloor(const std::vector<RoomUnit>& units) {
    std::optional<size_t> chosen;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        if (!choosable(unit) || !unit.belowFloor) continue;
        if (!chosen || goesBefore(unit, units[*chosen])) chosen = k;
    }
    return chosen;
}

std::optional<size_t> fromTheAddressHoldingMost(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer,
                                                int64_t guaranteedFew) {
    const auto held = holdings(units);
    const auto mine = held.find(newcomer.address);
    const int64_t afterAdmission = (mine == held.end() ? 0 : mine->second) + newcomer.weight;
    const int64_t above = std::max(afterAdmission, guaranteedFew);
    std::optional<size_t> chosen;
    int64_t most = 0;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        const int64_t theirs = held.at(unit.address);
        if (!choosable(unit) || theirs <= above || theirs < most) continue;
        if (theirs > most || goesBefore(unit, units[*chosen])) {
            chosen = k;
            most = theirs;
        }
    }
    return chosen;
}

}  // namespace

RoomChoice chooseToGiveWay(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer, int64_t guaranteedFew) {
    if (const auto idle = longestIdle(units)) return {RoomChoice::Why::idle, *idle};
    if (const auto slowest = leastProgressBelowFloor(units)) return {RoomChoice::Why::slowest, *slowest};
    if (const auto share = fromTheAddressHoldingMost(units, newcomer, guaranteedFew)) {
        return {RoomChoice::Why::share, *share};
    }
    return {};
}

std::vector<size_t> chooseToFree(std::vector<RoomUnit> units, const RoomNewcomer& newcomer, int64_t guaranteedFew,
                                 int64_t needed) {
    std::vector<size_t> chosen;
    while (needed > 0) {
        const RoomChoice choice = chooseToGiveWay(units, newcomer, guaranteedFew);
        if (choice.why == RoomChoice::Why::none) return {};
        chosen.push_back(choice.unit);
        needed -= units[choice.unit].frees;
        // Chosen: it holds nothing any more, and cannot be chosen again.
        units[choice.unit].weight = 0;
        units[choice.unit].working = true;
    }
    return chosen;
}

}  // namespace corvane
