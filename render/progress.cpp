#include "render/progress.h"

#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool shown = false;
double started = 0;
double lastShown = -1;

double secondsNow() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

void startProgress() {
    shown = stderrIsTerminal();
    started = secondsNow();
    lastShown = -1;
}

void showProgress(int64_t done, int64_t total, bool last) {
    if (!shown)
        return;
    const double now = secondsNow();
    if (!last && now - lastShown < 0.25)
        return;
    lastShown = now;
    const double elapsed = now - started;
    const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    const double left = fps > 0 ? static_cast<double>(total - done) / fps : 0.0;
    std::fprintf(stderr, "\rframe %lld/%lld  %.1f fps  %.0f s left   ",
                 static_cast<long long>(done), static_cast<long long>(total), fps, left);
    if (last)
        std::fprintf(stderr, "\rrendered %lld frames in %.1f s (%.1f fps)       \n",
                     static_cast<long long>(total), elapsed, fps);
}
