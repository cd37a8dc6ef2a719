// Loaded into the player with LD_PRELOAD to make one thing fail:
// - QUELTRAVINE_FAIL_SIZE=N (QUELTRAVINE_FAIL_SKIP=K): the allocation of N
//   bytes after K others of that size succeeded;
// - QUELTRAVINE_FAIL_LOCK=K: locking the frame's texture after K locks
//   succeeded, as a display that was taken away would.
#include <SDL.h>
#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t bytes);

namespace {

size_t failSize = 0;
long sizeSkip = 0;
bool sizeArmed = false;

void armSize() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    if (const char* size = std::getenv("QUELTRAVINE_FAIL_SIZE")) {
        failSize = std::strtoull(size, nullptr, 10);
        sizeArmed = true;
    }
    if (const char* count = std::getenv("QUELTRAVINE_FAIL_SKIP")) {
        sizeSkip = std::strtol(count, nullptr, 10);
    }
}

}  // namespace

extern "C" void* malloc(size_t bytes) {
    if (bytes > 1000000) {  // small requests, made before anything is set up, pass
        armSize();
        if (sizeArmed && bytes == failSize && sizeSkip-- == 0) {
            sizeArmed = false;
            return nullptr;
        }
    }
    return __libc_malloc(bytes);
}

extern "C" int SDL_LockTexture(SDL_Texture* texture, const SDL_Rect* rect, void** pixels,
                               int* pitch) {
    using Lock = int (*)(SDL_Texture*, const SDL_Rect*, void**, int*);
    static const auto real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "SDL_LockTexture"));
    static long remaining = [] {
        const char* count = std::getenv("QUELTRAVINE_FAIL_LOCK");
        return count != nullptr ? std::strtol(count, nullptr, 10) : -1L;
    }();
    if (remaining >= 0 && remaining-- == 0) {
        return SDL_SetError("Texture lock refused by the test");
    }
    return real(texture, rect, pixels, pitch);
}
