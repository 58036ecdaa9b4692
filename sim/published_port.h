// A pseudo-terminal published as a numbered COM port: the link COM<n> in the ports
// directory points to the slave side, which the console opens like any serial device;
// the master side is the module's end of the line. While the object lives it holds the
// lock on COM<n>.lock beside the link, which tells the console (and other modules) that
// the link is live. The link goes with the object.
#pragma once

#include <optional>
#include <string>

#include "sim/unique_fd.h"

namespace orvante::sim {

// No hardware takes this number (families end at 96, others start at 97 and are few).
inline constexpr int kDefaultPortNumber = 99;
inline constexpr int kMaxPortNumber = 255;  // the port list reads links up to COM255

class PublishedPort {
public:
    // Opens a pty pair (slave in raw mode) and links COM<number> to the slave in
    // `portsDir`, creating the directory (mode 0700) when missing. Without a number:
    // 99 if free, else the first free number above it. A number is free when it has no
    // entry, or when its link was left by a module that has ended (its lock is free):
    // that link is taken over. A live module's link, and any other entry, are never
    // replaced: a taken number that was asked for is an error. Throws
    // std::runtime_error with a message for the user on failure.
    explicit PublishedPort(std::optional<int> number = std::nullopt,
                           const std::string& portsDir = DefaultPortsDirectory());
    // Removes the link, if it still points to this pty.
    ~PublishedPort();
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    int Number() const { return number_; }
    const std::string& LinkPath() const { return linkPath_; }
    const std::string& SlavePath() const { return slavePath_; }
    // Non-blocking. The slave descriptor stays open inside, so that the master does not
    // report a hang-up while no port has the slave open.
    int MasterFd() const { return master_.Get(); }

    static std::string DefaultPortsDirectory();

private:
    void OpenPty();
    void Publish(std::optional<int> number, const std::string& portsDir);
    bool Claim(const std::string& link);

    UniqueFd master_;
    UniqueFd slave_;
    UniqueFd lock_;  // holds the flock on COM<n>.lock
    std::string slavePath_;
    std::string linkPath_;
    int number_ = 0;
};

}  // namespace orvante::sim
