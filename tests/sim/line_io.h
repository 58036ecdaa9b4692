// Files and terminal I/O for the tests of the virtual module's line side.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvante::test {

// A fresh directory below the system's temporary directory, removed with its content.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A terminal opened the way a serial port is (read/write, non-blocking, not the
// controlling terminal); closed with the object.
class Terminal {
public:
    explicit Terminal(const std::string& path);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes have come or the timeout has passed.
    std::vector<std::uint8_t> Read(std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    int fd_;
};

}  // namespace orvante::test
