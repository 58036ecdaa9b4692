#include "sim/published_port.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "serial/port_list_posix.h"

namespace orvante::sim {

namespace {

[[noreturn]] void Fail(const std::string& what, int code) {
    throw std::runtime_error(what + ": " + std::strerror(code));
}

// Creates `path` and its missing parents with mode 0700. An existing final directory
// must be a directory of ours, since links in it are opened as serial ports.
void MakePrivateDirectory(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        struct stat existing {};
        if (::stat(part.c_str(), &existing) != 0 && ::mkdir(part.c_str(), 0700) != 0 &&
            errno != EEXIST) {
            Fail(part, errno);
        }
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) Fail(path, errno);
    if (!S_ISDIR(info.st_mode)) Fail(path, ENOTDIR);
    if (info.st_uid != ::geteuid()) {
        throw std::runtime_error(path + ": belongs to another user; not publishing there");
    }
}

// What the port list shows after the COM number. Best effort: without it the list
// shows the pty's name.
void WriteLabel(const std::string& path) {
    std::ofstream(path, std::ios::trunc) << "虚拟模块\n";
}

// Where `link` points, empty when it is not a link.
std::string LinkTarget(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Whether `fd` is still the file at `path` (a module that ends removes its lock file).
bool IsFileAt(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Opens COM<n>.lock, creating it when missing (*created), and takes its lock without
// waiting. Invalid when a running module holds it.
UniqueFd LockFile(const std::string& path, bool* created) {
    // A module that is ending removes the file while we may be opening it: then the
    // lock we get is on a file nobody will look at again, and we start over.
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *created = true;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) {
            *created = false;
            fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        }
        if (fd < 0) {
            if (errno == ENOENT) continue;
            Fail(path, errno);
        }
        UniqueFd lock(fd);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return UniqueFd();
            Fail(path, errno);
        }
        if (IsFileAt(fd, path)) return lock;
    }
    return UniqueFd();
}

}  // namespace

std::string PublishedPort::DefaultPortsDirectory() {
    return serial::PortsDirectory();
}

PublishedPort::PublishedPort(std::optional<int> number, const std::string& portsDir) {
    if (number && (*number < 1 || *number > kMaxPortNumber)) {
        throw std::runtime_error("port number " + std::to_string(*number) + " is not 1.." +
                                 std::to_string(kMaxPortNumber));
    }
    OpenPty();
    Publish(number, portsDir);
}

PublishedPort::~PublishedPort() {
    // Another program may have put its own entry there since (after ours was removed
    // by hand): leave that alone.
    if (!linkPath_.empty() && LinkTarget(linkPath_) == slavePath_) {
        ::unlink(linkPath_.c_str());
        ::unlink((linkPath_ + ".label").c_str());
    }
    // Removed while still held: whoever opened it meanwhile sees that it is gone once
    // they have the lock, and starts over.
    const std::string lockPath = linkPath_ + serial::kLinkLockSuffix;
    if (lock_.IsValid() && IsFileAt(lock_.Get(), lockPath)) ::unlink(lockPath.c_str());
}

void PublishedPort::OpenPty() {
    int master = -1;
    int slave = -1;
    char name[PATH_MAX] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) Fail("openpty", errno);
    master_ = UniqueFd(master);
    slave_ = UniqueFd(slave);
    slavePath_ = name;

    termios settings{};
    if (::tcgetattr(slave, &settings) != 0) Fail(slavePath_, errno);
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave, TCSANOW, &settings) != 0) Fail(slavePath_, errno);
    if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        Fail("fcntl", errno);
    }
}

void PublishedPort::Publish(std::optional<int> number, const std::string& portsDir) {
    MakePrivateDirectory(portsDir);
    const int first = number.value_or(kDefaultPortNumber);
    const int last = number.value_or(kMaxPortNumber);
    for (int n = first; n <= last; ++n) {
        const std::string link = portsDir + "/COM" + std::to_string(n);
        if (Claim(link)) {
            linkPath_ = link;
            number_ = n;
            WriteLabel(link + ".label");
            return;
        }
    }
    if (number) {
        throw std::runtime_error(
            portsDir + "/COM" + std::to_string(*number) +
            " is taken (by a running virtual module, or an entry made by hand); "
            "choose another --port");
    }
    throw std::runtime_error("no free COM number from " + std::to_string(kDefaultPortNumber) +
                             " to " + std::to_string(kMaxPortNumber) + " in " + portsDir);
}

// The lock first, then the link: whoever holds the lock owns the number. A lock file
// that was there already and whose lock was free belonged to a module that has ended,
// so its link is stale and goes. symlink fails on any entry that is left, a link made by
// hand included.
bool PublishedPort::Claim(const std::string& link) {
    const std::string lockPath = link + serial::kLinkLockSuffix;
    bool created = false;
    UniqueFd lock = LockFile(lockPath, &created);
    if (!lock.IsValid()) return false;
    struct stat entry {};
    if (!created && ::lstat(link.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
        ::unlink(link.c_str());
    }
    if (::symlink(slavePath_.c_str(), link.c_str()) != 0) {
        const int code = errno;
        // Not ours after all: a lock file of our making must not vouch for that entry.
        if (created) ::unlink(lockPath.c_str());
        if (code == EEXIST) return false;
        Fail(link, code);
    }
    lock_ = std::move(lock);
    return true;
}

}  // namespace orvante::sim
