// libjpeg's error manager as pelc uses it wherever it calls libjpeg: a fatal error jumps
// back to the caller's setjmp instead of ending the process, and nothing is printed.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace platform {

/// The caller sets `escape` with setjmp before its first libjpeg call; the object it guards
/// holds only plain data, so the jump skips no destructor.
struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

/// Ends the libjpeg call under way at the caller's setjmp.
[[noreturn]] inline void escapeFromJpeg(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1);
}

/// Sets up `errors` to escape on a fatal error and to print nothing; the result goes in the
/// libjpeg object's `err`.
inline jpeg_error_mgr* quietJpegErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = escapeFromJpeg;
    errors.base.output_message = [](j_common_ptr) {};
    return &errors.base;
}

} // namespace platform
