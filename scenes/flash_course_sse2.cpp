// The flash courses' step, 4 lanes at a time, in SSE2.
#include "scenes/flash_course_kernel.h"

void followFlashCoursesSse2(FlashCourseSpan& span) {
    followFlashCoursesFor<4>(span);
}
