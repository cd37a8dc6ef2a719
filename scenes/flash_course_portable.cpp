// The flash courses' step, one lane at a time, for any processor.
#include "scenes/flash_course_kernel.h"

void followFlashCoursesPortable(FlashCourseSpan& span) {
    followFlashCoursesFor<1>(span);
}
