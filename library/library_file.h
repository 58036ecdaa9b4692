// The .db library file: a flat image of the module's code library. File byte k is
// library byte k; there is no header, trailer or checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvante::library {

// Offsets travel as 16-bit values, so no library image is larger than this.
inline constexpr std::size_t kMaxLibrarySize = 65536;

enum class FileProblem {
    kNone,
    kCannotOpen,
    kNotRegular,
    kIsFolder,
    kTooLarge,
    kCannotWrite,
    kCannotReplace,  // the export is complete in its part file, which could not replace the file
};

// Why a file could not be used: the kind, and for open and write failures the system's
// text of the reason.
struct FileError {
    FileProblem problem = FileProblem::kNone;
    std::string reason;
};

// Reads a whole import file. A path that is not a regular file, or a file larger than
// kMaxLibrarySize, is refused without reading it.
bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>* image, FileError* error);

// Where an export's blocks go, each at the library offset its reply names. A block
// beyond the end leaves a gap of zeros until its own block arrives.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual bool WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                            FileError* error) = 0;
};

// The library read into memory (a read-back that is only compared).
class ExportImage final : public ExportSink {
public:
    bool WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                    FileError* error) override;
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// An export file. The blocks go into "<file>.part" beside the chosen file, and the part
// file replaces the chosen file only once the export is complete (Commit): until then
// the chosen file stays exactly as it was, or absent. A chosen name that is a symbolic
// link has its target replaced, and the part file lies beside the target, so that the
// last step is a rename within one folder.
class ExportFile final : public ExportSink {
public:
    ExportFile() = default;
    // Neither committed nor abandoned: as Abandon.
    ~ExportFile() override;
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    // Whether `path` can take an export, judged without creating anything: its folder
    // exists and can be written, and it is not a folder or another non-regular file.
    static bool CheckTarget(const std::string& path, FileError* error);
    // The part file of `path` (UTF-8).
    static std::string PartPathOf(const std::string& path);

    // Makes the part file anew: a stale one is removed, and the new one is created
    // exclusively, so that nothing left in its place (a link) is followed.
    bool Create(const std::string& path, FileError* error);
    // Writes and flushes, so that a failure shows at once and what came is on disk.
    bool WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes,
                    FileError* error) override;
    // The export is complete: the part file, synced to disk and given the replaced
    // file's permission bits, is renamed over the chosen file. On failure the part file
    // stays, holding the whole library.
    bool Commit(FileError* error);
    // The export ended otherwise: the part file keeps the blocks received, or is removed
    // when nothing was received. Returns how many bytes it keeps.
    std::size_t Abandon();

    const std::string& PartPath() const { return partPath_; }
    // The part file's length: where the block that ends furthest ends.
    std::size_t Size() const { return size_; }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::filesystem::path target_;
    std::filesystem::path part_;
    std::string partPath_;
    std::size_t size_ = 0;
    bool created_ = false;  // the part file is ours and not yet committed
};

}  // namespace orvante::library
