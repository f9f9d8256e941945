#pragma once
// The one rule by which every room the server shares among devices (connection slots,
// memory for bodies, unfinished uploads) makes room for a newcomer when it is full.
//
// Each room hands in its units: who holds each, how much of the room it holds, its progress
// (bytes moved for the other side over the room's window, nothing else: never a size a
// request announces, never its age) and whether that progress reaches the room's floor;
// and the guaranteed few, what one honest device holds of the room at once. The rule
// guarantees:
//   - An honest device keeps its room: a unit moving at or above its floor is never chosen
//     while its address holds no more than the guaranteed few.
//   - A unit that barely moves goes first: while any unit is idle or below its floor, the
//     choice is one of them, whatever its address: the idle one quiet longest, else the one
//     with the least progress, of those alike the one quiet longest.
//   - Max-min above the floor: only when every unit moves at or above its floor does the
//     address holding the most, when it holds more than the guaranteed few and more than
//     the newcomer's address would once admitted, give its least-progressing unit.
//   - Otherwise the newcomer is refused (told busy): a crowd whose every unit moves at the
//     floor from its own address costs its sender real bandwidth, and keeps its room.
// A unit that is working (a handler with nothing of its reply unsent, for a bounded time)
// or already chosen is never chosen, though what it holds still counts. Of units alike in
// all, the one listed first goes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct RoomUnit {
    std::string address;
    int64_t weight = 1;      // what it holds of the room, weighed among addresses
    double progress = 0;     // bytes moved for the other side over the room's window
    bool belowFloor = true;  // its progress is under the room's floor
    bool idle = false;       // holds the room while waiting for its next use
    double quietSince = 0;   // when it last moved a byte (idle: when it became idle)
    bool working = false;    // never chosen
    int64_t frees = 1;       // what giving way frees
};

struct RoomNewcomer {
    std::string address;
    int64_t weight = 1;  // what it asks for
};

struct RoomChoice {
    enum class Why { idle, slowest, share, none };
    Why why = Why::none;
    size_t unit = 0;  // index into the units; meaningless when why is none
};

// The unit that gives way for the newcomer; `guaranteedFew` is what an address may hold,
// moving at the floor, without ever being chosen.
RoomChoice chooseToGiveWay(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer, int64_t guaranteedFew);

// Units that together free `needed` of the room (each choice made as above, the
// ones chosen no longer counting); empty when they cannot, nothing then being cut.
std::vector<size_t> chooseToFree(std::vector<RoomUnit> units, const RoomNewcomer& newcomer, int64_t guaranteedFew,
                                 int64_t needed);

}  // namespace corvane
