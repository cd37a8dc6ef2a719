// The sine, power and hyperbolic tangent the show is computed with. Every
// build compiles the same sources for them (sin and pow from the maths of
// Debian's musl, tanh of our own in core/show_tanh.cpp, all built with the
// project's floating-point flags), so the music and the noise scene come out
// bit for bit the same on Linux, on Windows and in the browser, whatever the
// platform's own C runtime would return. Each result lies within one unit in
// the last place of the true value, for any double.
#pragma once

extern "C" {
double queltravine_sin(double x);
double queltravine_pow(double x, double y);
double queltravine_tanh(double x);
// tanh's slow path alone, which its fast path is checked against.
double queltravine_tanh_double_double(double x);
}

namespace maths {

inline double sin(double x) {
    return queltravine_sin(x);
}

inline double pow(double x, double y) {
    return queltravine_pow(x, y);
}

inline double tanh(double x) {
    return queltravine_tanh(x);
}

}  // namespace maths
