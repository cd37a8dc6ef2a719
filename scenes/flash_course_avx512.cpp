// The flash courses' step, 16 lanes at a time; built with -mavx512f.
#include "scenes/flash_course_kernel.h"

void followFlashCoursesAvx512(FlashCourseSpan& span) {
    followFlashCoursesFor<16>(span);
}
