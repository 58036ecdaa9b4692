// An exception that reaches the start of one of our threads would end the program with
// std::terminate: an abort, a core file and no word of what happened. Every thread we
// start runs its body through RunGuarded instead, which says what went wrong in one line
// on standard error and ends the program with status 1.
#pragma once

#include <exception>

namespace orvante::platform {

// The name that begins the line, for example "orvante-cli"; set once by main.
void SetProgramName(const char* name);

// Writes "<program>: internal error in the <thread> thread: <what>" and ends the program
// with status 1 at once: the thread's state is unknown, so nothing else runs.
[[noreturn]] void ReportThreadFailure(const char* thread, const char* what) noexcept;

template <class Body>
void RunGuarded(const char* thread, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        ReportThreadFailure(thread, e.what());
    } catch (...) {
        ReportThreadFailure(thread, "an exception of unknown type");
    }
}

}  // namespace orvante::platform
