// The codes PendingOp takes: the supervised request whose reply is awaited.
#pragma once

namespace orvante::ui {

inline constexpr int kOpHandshake = 0;  // also idle: every supervising reply returns here
inline constexpr int kOpTestConnection = 1;
// Recorded but not timed: their time-out reports nothing.
inline constexpr int kOpSetPulseCapacity = 16;
inline constexpr int kOpReadPulseCapacity = 17;
inline constexpr int kOpLearn = 18;
inline constexpr int kOpTransmit = 20;

}  // namespace orvante::ui
