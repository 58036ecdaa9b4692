// Folders of the test's own: while the object lives, an environment variable that names
// one of the user's folders (XDG_RUNTIME_DIR for the ports directory, XDG_STATE_HOME for
// the built-in modules' state) points to a fresh temporary folder, so that nothing else's
// ports or state get in the way.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace orvante::test {

class PrivateFolderVariable {
public:
    explicit PrivateFolderVariable(const char* variable) : variable_(variable) {
        char pattern[] = "/tmp/orvante-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir_ = pattern;
        if (const char* old = getenv(variable_)) old_ = old;
        setenv(variable_, dir_.c_str(), 1);
    }
    ~PrivateFolderVariable() {
        if (old_) {
            setenv(variable_, old_->c_str(), 1);
        } else {
            unsetenv(variable_);
        }
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    PrivateFolderVariable(const PrivateFolderVariable&) = delete;
    PrivateFolderVariable& operator=(const PrivateFolderVariable&) = delete;

    const std::string& Path() const { return dir_; }

private:
    const char* variable_;
    std::string dir_;
    std::optional<std::string> old_;
};

struct PrivateRuntimeDir : PrivateFolderVariable {
    PrivateRuntimeDir() : PrivateFolderVariable("XDG_RUNTIME_DIR") {}
};

struct PrivateStateDir : PrivateFolderVariable {
    PrivateStateDir() : PrivateFolderVariable("XDG_STATE_HOME") {}
};

}  // namespace orvante::test
