#include <cerrno>
#include <cstring>

#include "platform/sys_error.h"

namespace orvante::platform {

namespace {

// strerror_r comes in two flavours: the GNU one returns the text (which may or may not
// be in the buffer), the XSI one returns 0 and fills the buffer. Overloads on the
// result type take the text from whichever the C library provides.
[[maybe_unused]] std::string ErrorText(const char* gnuResult, const char* /*buffer*/,
                                       int /*code*/) {
    return gnuResult;
}

[[maybe_unused]] std::string ErrorText(int xsiResult, const char* buffer, int code) {
    if (xsiResult != 0) return "Unknown error " + std::to_string(code);
    return buffer;
}

}  // namespace

SysError SysError::FromErrno(int code) {
    char buffer[256] = {};
    return SysError{code, ErrorText(strerror_r(code, buffer, sizeof buffer), buffer, code),
                    CategoryOfErrno(code)};
}

}  // namespace orvante::platform
