// The codes PendingOp takes: the supervised request whose reply is awaited.
#pragma once

namespace orvante::ui {

// The handshake's, and idle: every supervising reply returns here. Which of the two it is
// the dialog's m_bHandshakeUnanswered says.
inline constexpr int kOpHandshakeOrIdle = 0;
inline constexpr int kOpTestConnection = 1;
// Recorded but not timed: their time-out reports nothing.
inline constexpr int kOpSetPulseCapacity = 16;
inline constexpr int kOpReadPulseCapacity = 17;
inline constexpr int kOpLearn = 18;
inline constexpr int kOpTransmit = 20;

}  // namespace orvante::ui
