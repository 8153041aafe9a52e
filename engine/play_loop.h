// The play loop: one thread per playing port, woken by the engine tick, that refills the port's
// queues and plays at most one audio and one video packet per step, each when its stamp is due
// against the clock scaled by the speed step. Single steps and seeks drive the same step without
// pacing.
#pragma once

#include <cstdint>

#include "engine/player_port.h"

namespace kestrel::engine {

enum class StepResult {
    Continue,
    End,        // nothing queued and nothing more to read, or a picture size change failed
    Failure,    // the file could not be read further
    NoPicture,  // a video packet produced no picture; it stays queued
};

struct StepFlags {
    bool present = false;   // show decoded pictures
    bool wait = false;      // hold packets back until they are due
    bool count = false;     // lower *counter for each video packet consumed
    bool bookAudio = false; // audio stamps advance the played time
};

// Caller holds the port's bufferLock and has checked that the port's buffers exist.
StepResult RunStep(int32_t port, StepFlags flags, uint32_t* counter);
StepResult PlayStep(int32_t port, StepFlags flags, uint32_t* counter);

// Played time of a stamp: its distance from the origin, 0 for a stamp before it.
constexpr uint32_t PlayedTimeOf(uint32_t stamp, uint32_t origin) { return stamp >= origin ? stamp - origin : 0; }

// Elapsed clock time scaled by the speed step (1..8; 4 is normal speed).
int32_t ScaleElapsed(int32_t elapsed, uint32_t speedStep);

// True when the port's buffers are there to play from (not closed meanwhile).
bool CanStep(const PlayerPort& p);

}  // namespace kestrel::engine
