// A ports directory of the test's own: XDG_RUNTIME_DIR points to a fresh temporary
// folder while the object lives, so that nothing else's ports get in the way.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace orvante::test {

class PrivateRuntimeDir {
public:
    PrivateRuntimeDir() {
        char pattern[] = "/tmp/orvante-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir_ = pattern;
        if (const char* old = getenv("XDG_RUNTIME_DIR")) old_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    ~PrivateRuntimeDir() {
        if (old_) {
            setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

    const std::string& Path() const { return dir_; }

private:
    std::string dir_;
    std::optional<std::string> old_;
};

}  // namespace orvante::test
