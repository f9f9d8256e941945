#pragma once
// The one rule by which every room the server shares among devices (connection slots,
// memory for bodies, unfinished uploads) makes room for a newcomer when it is full.
//
// Each room hands in its units: who holds each, how much of the room it holds, its progress
// (bytes moved for the other side lately, by the room's own measure) and whether that
// progress reaches the room's floor. The choice, in order:
//   1. an idle unit, the one idle longest;
//   2. else the address holding the most, when it holds more than the newcomer's address
//      would once admitted, gives its least-progressing unit, whatever its speed;
//   3. else the unit with the least progress below the floor, anywhere;
//   4. else none: the newcomer is refused (told busy).
// Of units alike, the one listed first goes. A unit that is working (a handler with nothing of its reply waiting unsent, for a
// bounded time) or already chosen is never chosen, though what it holds still counts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct RoomUnit {
    std::string address;
    int64_t weight = 1;     // what it holds of the room, weighed among addresses
    double progress = 0;    // larger: more moved lately
    bool belowFloor = true;  // its progress is under the room's floor
    bool idle = false;       // holds the room while waiting for its next use
    double idleSince = 0;    // of idle units, the smallest goes first
    bool working = false;    // never chosen
    int64_t frees = 1;       // what giving way frees
};

struct RoomNewcomer {
    std::string address;
    int64_t weight = 1;  // what it asks for
};

struct RoomChoice {
    enum class Why { idle, share, slowest, none };
    Why why = Why::none;
    size_t unit = 0;  // index into the units; meaningless when why is none
};

// The unit that gives way for the newcomer.
RoomChoice chooseToGiveWay(const std::vector<RoomUnit>& units, const RoomNewcomer& newcomer);

// Units that together free `needed` of the room (each choice made as above, the
// ones chosen no longer counting); empty when they cannot, nothing then being cut.
std::vector<size_t> chooseToFree(std::vector<RoomUnit> units, const RoomNewcomer& newcomer, int64_t needed);

}  // namespace corvane
