#include "platform/thread_failure.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace orvante::platform {

namespace {

std::atomic<const char*> programName{"orvante"};

}  // namespace

void SetProgramName(const char* name) {
    programName = name;
}

void ReportThreadFailure(const char* thread, const char* what) noexcept {
    // What the program printed before stays printed; then one line says why it ends.
    std::fflush(stdout);
    std::fprintf(stderr, "%s: internal error in the %s thread: %s\n", programName.load(), thread,
                 what);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace orvante::platform
