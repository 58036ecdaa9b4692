#include "library/library_file.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "library/part_file.h"
#include "platform/sys_error.h"
#include "platform/utf8_path.h"

namespace orvante::library {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPartSuffix = ".part";
// More links in a row than this is a loop; opening then says so.
constexpr int kMaxLinkHops = 40;

FileError SystemError(FileProblem problem, int code) {
    return FileError{problem, platform::SysError::FromErrno(code).text};
}

FileError SystemError(FileProblem problem, std::errc condition) {
    return FileError{problem, std::make_error_code(condition).message()};
}

// Something other than a regular file (a folder, a pipe, a device) is refused before it
// is opened: opening a pipe or a terminal could wait for ever.
FileProblem ProblemOfOtherThanRegularFile(const fs::path& path) {
    std::error_code ignored;
    const auto status = fs::status(path, ignored);
    if (!fs::exists(status) || fs::is_regular_file(status)) return FileProblem::kNone;
    return fs::is_directory(status) ? FileProblem::kIsFolder : FileProblem::kNotRegular;
}

// The file a name stands for: a symbolic link is followed to its target, also to one
// that does not exist yet.
fs::path FollowLinks(fs::path path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
        const fs::path target = fs::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

fs::path FolderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

}  // namespace

bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>* image, FileError* error) {
    if (const FileProblem problem = ProblemOfOtherThanRegularFile(platform::PathFromUtf8(path));
        problem != FileProblem::kNone) {
        *error = FileError{problem, {}};
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        platform::OpenFile(platform::PathFromUtf8(path), "rb"), &std::fclose);
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

// ---- in memory -----------------------------------------------------------------

bool ExportImage::WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                             FileError* /*error*/) {
    if (bytes.empty()) return true;
    if (bytes_.size() < offset + bytes.size()) bytes_.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

// ---- the export file -------------------------------------------------------------

ExportFile::~ExportFile() {
    Abandon();
}

bool ExportFile::CheckTarget(const std::string& path, FileError* error) {
    const fs::path target = FollowLinks(platform::PathFromUtf8(path));
    if (const FileProblem problem = ProblemOfOtherThanRegularFile(target);
        problem != FileProblem::kNone) {
        *error = FileError{problem, {}};
        return false;
    }
    const fs::path folder = FolderOf(target);
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) {
        *error = SystemError(FileProblem::kCannotWrite, fs::exists(folder, ignored)
                                                            ? std::errc::not_a_directory
                                                            : std::errc::no_such_file_or_directory);
        return false;
    }
    std::string reason;
    if (!detail::CanCreateIn(folder, &reason)) {
        *error = FileError{FileProblem::kCannotWrite, reason};
        return false;
    }
    return true;
}

std::string ExportFile::PartPathOf(const std::string& path) {
    return platform::Utf8FromPath(FollowLinks(platform::PathFromUtf8(path))) + kPartSuffix;
}

bool ExportFile::Create(const std::string& path, FileError* error) {
    file_.reset();
    size_ = 0;
    target_ = FollowLinks(platform::PathFromUtf8(path));
    if (const FileProblem problem = ProblemOfOtherThanRegularFile(target_);
        problem != FileProblem::kNone) {
        *error = FileError{problem, {}};
        return false;
    }
    part_ = target_;
    part_ += kPartSuffix;
    partPath_ = platform::Utf8FromPath(part_);
    // A part file left by an earlier export is ours to replace; a folder of that name
    // is not, and the exclusive create below then refuses it.
    std::error_code ignored;
    if (!fs::is_directory(fs::symlink_status(part_, ignored))) fs::remove(part_, ignored);
    std::string reason;
    file_.reset(detail::CreateNewFile(part_, &reason));
    if (!file_) {
        *error = FileError{FileProblem::kCannotWrite, reason};
        return false;
    }
    created_ = true;
    return true;
}

bool ExportFile::WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                            FileError* error) {
    if (!file_) {
        *error = SystemError(FileProblem::kCannotWrite, std::errc::bad_file_descriptor);
        return false;
    }
    // An empty block writes nothing, and a file does not grow by seeking alone.
    if (bytes.empty()) return true;
    if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() ||
        std::fflush(file_.get()) != 0) {
        *error = SystemError(FileProblem::kCannotWrite, errno);
        return false;
    }
    size_ = std::max(size_, offset + bytes.size());
    return true;
}

bool ExportFile::Commit(FileError* error) {
    if (!file_) {
        *error = SystemError(FileProblem::kCannotWrite, std::errc::bad_file_descriptor);
        return false;
    }
    std::string reason;
    if (!detail::SyncFile(file_.get(), &reason)) {
        *error = FileError{FileProblem::kCannotWrite, reason};
        return false;
    }
    // Closed first: Windows renames no file that is open.
    if (std::fclose(file_.release()) != 0) {
        *error = SystemError(FileProblem::kCannotWrite, errno);
        return false;
    }
    // From here on the part file holds the whole library: it stays, whatever happens.
    created_ = false;
    if (!detail::ReplaceWith(part_, target_, &reason)) {
        *error = FileError{FileProblem::kCannotReplace, reason};
        return false;
    }
    return true;
}

std::size_t ExportFile::Abandon() {
    file_.reset();
    if (!created_) return size_;
    created_ = false;
    if (size_ == 0) {
        std::error_code ignored;
        fs::remove(part_, ignored);
    }
    return size_;
}

}  // namespace orvante::library
