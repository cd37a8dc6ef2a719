// The flash courses' step, 8 lanes at a time; built with -mavx2 (no FMA).
#include "scenes/flash_course_kernel.h"

void followFlashCoursesAvx2(FlashCourseSpan& span) {
    followFlashCoursesFor<8>(span);
}
