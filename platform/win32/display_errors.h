// Names of the result codes a DirectDraw display can fail with, as the
// error message shows them.
#pragma once

#include <cstddef>
#include <cstdint>

struct DisplayErrorName {
    uint32_t code;
    const char* text;
};

inline constexpr size_t kDisplayErrorNameCount = 111;
extern const DisplayErrorName kDisplayErrorNames[kDisplayErrorNameCount];

inline constexpr const char* kUnknownDisplayError = "Unknown error";

// The text shown for a failure code: its row's text, or "Unknown error".
const char* displayErrorText(uint32_t code);
