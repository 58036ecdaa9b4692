// The least a program can do to move a code library over the line: a raw tty, lock-step
// requests, no window, no log, no file. Measured against the same virtual module as the
// console, it shows what the module and this machine cost by themselves.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvante::bench {

struct LockStepResult {
    std::chrono::nanoseconds wall{0};
    std::uint64_t lineBytes = 0;  // request and reply bytes, both ways
    std::uint64_t blocks = 0;
    bool ok = false;
};

// Wall time over the time the line needs for `lineBytes` at `baud` (10 bits a byte).
double RatioToLineBound(const LockStepResult& result, int baud);

// Reads the library block after block until a short block, from `source` (the console's
// own address) to the broadcast address, on the tty at `ttyPath`.
LockStepResult MinimalExport(const std::string& ttyPath, std::uint16_t source);
// Writes `image` block after block, ending with a short (possibly empty) block.
LockStepResult MinimalImport(const std::string& ttyPath, std::uint16_t source,
                             const std::vector<std::uint8_t>& image);

}  // namespace orvante::bench
