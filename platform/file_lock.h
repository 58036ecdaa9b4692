// A lock held on a file for as long as the object lives: one holder at a time, in this
// process or any other (a second try from this process fails too).
#pragma once

#include <memory>
#include <string>

#include "platform/sys_error.h"

namespace orvante::platform {

class FileLock {
public:
    // Creates the file when missing and takes its lock without waiting. Nothing, with
    // *error (of kind kBusy when another holder has it), when it cannot.
    static std::unique_ptr<FileLock> TryLock(const std::string& path, SysError* error);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    struct Held;
    explicit FileLock(std::unique_ptr<Held> held);
    std::unique_ptr<Held> held_;
};

}  // namespace orvante::platform
