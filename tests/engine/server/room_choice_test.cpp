// The rooms' rule by what it guarantees, over random rooms: any number of units and
// addresses, random progress, idleness, quiet times and working units.

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <map>

#include "engine/server/room_choice.h"

using namespace corvane;

namespace {

constexpr double kFloor = 3000;

struct Room {
    std::vector<RoomUnit> units;
    RoomNewcomer newcomer;
    int64_t few = 1;
};

// Few addresses and few values, so that units share addresses and tie on progress and
// quiet times.
RoomUnit randomUnit() {
    RoomUnit unit;
    unit.address = std::string(1, char('a' + *rc::gen::inRange(0, 5)));
    unit.weight = *rc::gen::inRange(1, 3);
    unit.progress = *rc::gen::inRange(0, 7) * 1000.0;
    unit.belowFloor = unit.progress < kFloor;
    unit.idle = *rc::gen::inRange(0, 5) == 0;
    unit.quietSince = *rc::gen::inRange(0, 4);
    unit.working = *rc::gen::inRange(0, 6) == 0;
    unit.frees = *rc::gen::inRange(1, 4);
    return unit;
}

Room randomRoom() {
    Room room;
    room.units = *rc::gen::container<std::vector<RoomUnit>>(rc::gen::exec(randomUnit));
    // 'f' holds nothing.
    room.newcomer = RoomNewcomer{std::string(1, char('a' + *rc::gen::inRange(0, 6))), *rc::gen::inRange(1, 3)};
    room.few = *rc::gen::inRange(1, 6);
    return room;
}

// Every unit moves at or above the floor.
void moveAtTheFloor(Room& room) {
    for (RoomUnit& unit : room.units) {
        unit.idle = false;
        unit.progress = std::max(unit.progress, kFloor);
        unit.belowFloor = false;
    }
}

std::map<std::string, int64_t> holdings(const std::vector<RoomUnit>& units) {
    std::map<std::string, int64_t> held;
    for (const RoomUnit& unit : units) held[unit.address] += unit.weight;
    return held;
}

bool moving(const RoomUnit& unit) { return !unit.idle && !unit.belowFloor; }

// Whether `a` goes no later than `b` by the order the rule names.
bool noLaterThan(const RoomUnit& a, const RoomUnit& b) {
    return a.progress < b.progress || (a.progress == b.progress && a.quietSince <= b.quietSince);
}

std::vector<const RoomUnit*> choosable(const Room& room, bool (*which)(const RoomUnit&)) {
    std::vector<const RoomUnit*> found;
    for (const RoomUnit& unit : room.units) {
        if (!unit.working && which(unit)) found.push_back(&unit);
    }
    return found;
}

}  // namespace

RC_GTEST_PROP(RoomChoice, AUnitMovingAtTheFloorIsNeverChosenWhileItsAddressHoldsTheGuaranteedFew, ()) {
    Room room = randomRoom();
    // Half the rooms move at the floor throughout, where only shares are weighed.
    if (*rc::gen::arbitrary<bool>()) moveAtTheFloor(room);
    const RoomChoice choice = chooseToGiveWay(room.units, room.newcomer, room.few);
    if (choice.why == RoomChoice::Why::none) return;
    const RoomUnit& chosen = room.units[choice.unit];
    RC_ASSERT(!chosen.working);
    RC_ASSERT(!(moving(chosen) && holdings(room.units)[chosen.address] <= room.few));
}

RC_GTEST_PROP(RoomChoice, WhileAnyUnitIsIdleOrBelowTheFloorOneOfThemGoesIdleFirstThenTheLeastProgressThenTheQuietest,
              ()) {
    const Room room = randomRoom();
    const auto idle = choosable(room, [](const RoomUnit& unit) { return unit.idle; });
    const auto below = choosable(room, [](const RoomUnit& unit) { return !unit.idle && unit.belowFloor; });
    RC_PRE(!idle.empty() || !below.empty());
    const RoomChoice choice = chooseToGiveWay(room.units, room.newcomer, room.few);
    RC_ASSERT(choice.why != RoomChoice::Why::none);
    const RoomUnit& chosen = room.units[choice.unit];
    RC_ASSERT(!chosen.working);
    if (!idle.empty()) {
        RC_ASSERT(chosen.idle);
        for (const RoomUnit* other : idle) RC_ASSERT(chosen.quietSince <= other->quietSince);
        return;
    }
    RC_ASSERT(chosen.belowFloor && !chosen.idle);
    for (const RoomUnit* other : below) RC_ASSERT(noLaterThan(chosen, *other));
}

RC_GTEST_PROP(RoomChoice, AboveTheFloorOnlyTheAddressHoldingMostBeyondTheFewAndTheNewcomerGivesItsLeastProgressingUnit,
              ()) {
    Room room = randomRoom();
    moveAtTheFloor(room);
    auto held = holdings(room.units);
    const int64_t bound = std::max(held[room.newcomer.address] + room.newcomer.weight, room.few);
    int64_t most = 0;
    for (const RoomUnit& unit : room.units) {
        if (!unit.working && held[unit.address] > bound) most = std::max(most, held[unit.address]);
    }
    const RoomChoice choice = chooseToGiveWay(room.units, room.newcomer, room.few);
    if (most == 0) {
        RC_ASSERT(choice.why == RoomChoice::Why::none);
        return;
    }
    RC_ASSERT(choice.why == RoomChoice::Why::share);
    const RoomUnit& chosen = room.units[choice.unit];
    RC_ASSERT(!chosen.working);
    RC_ASSERT(held[chosen.address] == most);
    for (const RoomUnit& unit : room.units) {
        if (!unit.working && unit.address == chosen.address) RC_ASSERT(noLaterThan(chosen, unit));
    }
}

RC_GTEST_PROP(RoomChoice, UnitsFreedForANeedAreTheRulesChoicesInTurnAndJustEnoughOrNone, ()) {
    const Room room = randomRoom();
    const int64_t needed = *rc::gen::inRange(1, 12);
    const std::vector<size_t> chosen = chooseToFree(room.units, room.newcomer, room.few, needed);
    // Chosen one by one, each by the rule over the units not chosen yet.
    std::vector<RoomUnit> left = room.units;
    int64_t freed = 0;
    for (size_t k : chosen) {
        const RoomChoice choice = chooseToGiveWay(left, room.newcomer, room.few);
        RC_ASSERT(choice.why != RoomChoice::Why::none);
        RC_ASSERT(choice.unit == k);
        RC_ASSERT(freed < needed);
        freed += left[k].frees;
        left[k].weight = 0;
        left[k].working = true;
    }
    if (!chosen.empty()) {
        RC_ASSERT(freed >= needed);
        return;
    }
    // None: the rule runs out of units before the need is met.
    while (freed < needed) {
        const RoomChoice choice = chooseToGiveWay(left, room.newcomer, room.few);
        if (choice.why == RoomChoice::Why::none) return;
        freed += left[choice.unit].frees;
        left[choice.unit].weight = 0;
        left[choice.unit].working = true;
    }
    RC_FAIL("the units could have freed what was needed");
}
