// Waiting on a condition with a deadline, instead of sleeping in tests.
#pragma once

#include <chrono>
#include <functional>

namespace orvante::test {

// Polls `condition` every millisecond until it holds or `timeout` passes; returns
// whether it holds.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace orvante::test
