#include "library/library_file.h"

#include <cerrno>
#include <filesystem>

#include "serial/sys_error.h"
#include "serial/utf8_path.h"

namespace orvante::library {

namespace {

FileError SystemError(FileProblem problem, int code) {
    return FileError{problem, serial::SysError::FromErrno(code).text};
}

// Something other than a regular file (a folder, a pipe, a device) is refused before it
// is opened: opening a pipe or a terminal could wait for ever.
bool IsOtherThanRegularFile(const std::string& path) {
    std::error_code ignored;
    const auto status = std::filesystem::status(serial::PathFromUtf8(path), ignored);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

}  // namespace

bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>* image, FileError* error) {
    if (IsOtherThanRegularFile(path)) {
        *error = FileError{FileProblem::kNotRegular, {}};
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        serial::OpenFile(serial::PathFromUtf8(path), "rb"), &std::fclose);
    if (!file) {
        *error = SystemError(FileProblem::kCannotOpen, errno);
        return false;
    }
    // One byte more than fits tells a file that is too large.
    image->resize(kMaxLibrarySize + 1);
    const std::size_t count = std::fread(image->data(), 1, image->size(), file.get());
    if (std::ferror(file.get())) {
        *error = SystemError(FileProblem::kCannotOpen, errno);
        return false;
    }
    if (count > kMaxLibrarySize) {
        *error = FileError{FileProblem::kTooLarge, {}};
        return false;
    }
    image->resize(count);
    return true;
}

bool ExportFile::Create(const std::string& path, FileError* error) {
    if (IsOtherThanRegularFile(path)) {
        *error = FileError{FileProblem::kNotRegular, {}};
        return false;
    }
    file_.reset(serial::OpenFile(serial::PathFromUtf8(path), "wb"));
    if (!file_) {
        *error = SystemError(FileProblem::kCannotWrite, errno);
        return false;
    }
    return true;
}

bool ExportFile::WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                            FileError* error) {
    if (!file_) {
        *error = FileError{FileProblem::kCannotWrite, serial::SysError::FromErrno(EBADF).text};
        return false;
    }
    // An empty block writes nothing, and a file does not grow by seeking alone.
    if (bytes.empty()) return true;
    // A block beyond the end leaves a gap of zeros until its own block arrives.
    if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() ||
        std::fflush(file_.get()) != 0) {
        *error = SystemError(FileProblem::kCannotWrite, errno);
        return false;
    }
    return true;
}

}  // namespace orvante::library
