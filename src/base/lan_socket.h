#pragma once
// Socket settings for connections inside one local network.

#include <cstdint>
#include <string>

namespace corvane {

// The least time, in microseconds, TCP waits before it sends a lost segment again.
inline constexpr int lanRecoveryFloorMicros = 20000;

// Lets a connection recover a lost segment that nothing follows within about two round
// trips and the floor above, instead of the kernel's fixed 200 ms. A small file's requests,
// and their replies, are often one segment each, so on a lossy Wi-Fi every such loss used
// to stall its connection for 200 ms. Returns false where the kernel has no such setting
// (before Linux 6.15); the connection then works as before, only slower to recover.
bool shortenLossRecovery(int socketFd);

// Up to this many bytes (a small file with its requests' heads, about a connection's first
// window of ten segments) go at once on a connection that does not pace.
inline constexpr int64_t unpacedBytes = 16384;

// Runs reno on a socket before it connects, or on a listening socket, whose connections
// take it on: what fits the window then leaves at once. A pacing congestion control (BBR)
// paces a connection at about the rate it delivered; a connection carrying small files and
// their replies delivers a few segments a round trip, so each burst would be spread over
// most of a round trip. Before the connection, because bursts of a socket that once ran a
// pacing one stay paced. Every user may choose reno; returns false where the kernel refused.
bool leaveUnpaced(int socketFd);

// The congestion control a socket runs ("reno", "bbr", ...); empty where it cannot be read.
std::string congestionControlOf(int socketFd);
// What a new socket runs: the system's choice, read once.
const std::string& systemCongestionControl();

// Runs the system's own congestion control again, for a connection about to send more
// than unpacedBytes: it may cope better with a lossy link. Returns false where it failed.
bool paceAsSystemChooses(int socketFd);

}  // namespace corvane
