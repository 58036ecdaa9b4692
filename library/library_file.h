// The .db library file: a flat image of the module's code library. File byte k is
// library byte k; there is no header, trailer or checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvante::library {

// Offsets travel as 16-bit values, so no library image is larger than this.
inline constexpr std::size_t kMaxLibrarySize = 65536;

enum class FileProblem { kNone, kCannotOpen, kNotRegular, kTooLarge, kCannotWrite };

// Why a file could not be used: the kind, and for open and write failures the system's
// text of the reason.
struct FileError {
    FileProblem problem = FileProblem::kNone;
    std::string reason;
};

// Reads a whole import file. A path that is not a regular file, or a file larger than
// kMaxLibrarySize, is refused without reading it.
bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>* image, FileError* error);

// An export file: created empty (an existing file is cut to length 0) and written block
// by block, each block at the library offset its reply names.
class ExportFile {
public:
    bool Create(const std::string& path, FileError* error);
    // Writes and flushes, so that a failure shows at once and what came is on disk.
    bool WriteBlock(std::size_t offset, std::span<const std::uint8_t> bytes, FileError* error);
    void Close() { file_.reset(); }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace orvante::library
