/* Read before each of musl's maths sources: the C runtime's <math.h> is
   taken first under its own names, then every function the sources define
   is renamed into the project's own, so they never clash with the runtime's
   sin, pow and tanh (or emscripten's copy of the same sources). */
#ifndef QUELTRAVINE_MUSL_MATHS_NAMES_H
#define QUELTRAVINE_MUSL_MATHS_NAMES_H

#include <float.h>
#include <math.h>
#include <stdint.h>

/* musl's own build marks its internal functions hidden; a static library
   needs no such mark. */
#define hidden

#define sin queltravine_sin
#define pow queltravine_pow
#define __sin queltravine_musl_sin_kernel
#define __cos queltravine_musl_cos_kernel
#define __rem_pio2 queltravine_musl_rem_pio2
#define __rem_pio2_large queltravine_musl_rem_pio2_large
#define __math_oflow queltravine_musl_math_oflow
#define __math_uflow queltravine_musl_math_uflow
#define __math_xflow queltravine_musl_math_xflow
#define __math_invalid queltravine_musl_math_invalid
#define __exp_data queltravine_musl_exp_data
#define __pow_log_data queltravine_musl_pow_log_data
/* Declared by musl's internal header with other types than glibc's
   functions of the same names; never called here. */
#define __tan queltravine_musl_tan_kernel
#define __sinl queltravine_musl_sinl_kernel
#define __cosl queltravine_musl_cosl_kernel
#define __tanl queltravine_musl_tanl_kernel

/* The runtime's <math.h> declared these under their own names: declare
   them again under the new ones, so that every call between the sources is
   checked against a prototype. */
double sin(double);
double pow(double, double);

#endif
