#include "engine/server/room_choice.h"

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

// Of two alike, the one listed first goes: each room lists its units in the order it
// would have them give way.
bool lessProgress(const RoomUnit& unit, const RoomUnit* best) {
    return !best || unit.progress < best->progress;
}

std::optional<size_t> longestIdle(const std::vector<RoomUnit>& units) {
    std::optional<size_t> chosen;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        if (!choosable(unit) || !unit.idle) continue;
        if (!chosen || unit.idleSince < units[*chosen].idleSince) chosen = k;
    }
    return chosen;
}

std::optional<size_t> fromTheAddressHoldingMost(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer) {
    const auto held = holdings(units);
    const auto mine = held.find(newcomer.address);
    const int64_t afterAdmission = (mine == held.end() ? 0 : mine->second) + newcomer.weight;
    std::optional<size_t> chosen;
    int64_t most = 0;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        const int64_t theirs = held.at(unit.address);
        if (!choosable(unit) || theirs <= afterAdmission || theirs < most) continue;
        if (theirs > most || lessProgress(unit, chosen ? &units[*chosen] : nullptr)) {
            chosen = k;
            most = theirs;
        }
    }
    return chosen;
}

std::optional<size_t> leastProgressBelowFloor(const std::vector<RoomUnit>& units) {
    std::optional<size_t> chosen;
    for (size_t k = 0; k < units.size(); ++k) {
        const RoomUnit& unit = units[k];
        if (!choosable(unit) || !unit.belowFloor) continue;
        if (lessProgress(unit, chosen ? &units[*chosen] : nullptr)) chosen = k;
    }
    return chosen;
}

}  // namespace

RoomChoice chooseToGiveWay(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer) {
    if (const auto idle = longestIdle(units)) return {RoomChoice::Why::idle, *idle};
    if (const auto share = fromTheAddressHoldingMost(units, newcomer)) return {RoomChoice::Why::share, *share};
    if (const auto slowest = leastProgressBelowFloor(units)) return {RoomChoice::Why::slowest, *slowest};
    return {};
}

std::vector<size_t> chooseToFree(std::vector<RoomUnit> units, const RoomNewcomer& newcomer, int64_t needed) {
    std::vector<size_t> chosen;
    while (needed > 0) {
        const RoomChoice choice = chooseToGiveWay(units, newcomer);
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
