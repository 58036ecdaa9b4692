#include <windows.h>

#include "platform/file_lock.h"
#include "platform/wide_text.h"

namespace orvante::platform {

struct FileLock::Held {
    explicit Held(HANDLE handle) : file(handle) {}
    ~Held() { CloseHandle(file); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    HANDLE file;
};

FileLock::FileLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}
FileLock::~FileLock() = default;

std::unique_ptr<FileLock> FileLock::TryLock(const std::string& path, SysError* error) {
    // Opened without sharing: nobody else can open it while it is held.
    const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SysError::FromSystemCode(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(std::make_unique<Held>(file)));
}

}  // namespace orvante::platform
