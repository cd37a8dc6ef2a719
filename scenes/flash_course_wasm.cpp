// The flash courses' step, 4 lanes at a time, in WebAssembly's 128-bit SIMD.
#include "scenes/flash_course_kernel.h"

void followFlashCoursesWasm(FlashCourseSpan& span) {
    followFlashCoursesFor<4>(span);
}
