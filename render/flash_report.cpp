#include "render/flash_report.h"

#include <algorithm>

namespace {

// Which frames held a transition of each kind, from the show's start.
struct Analysis {
    int32_t fps = 60;
    int64_t firstFrame = 0;
    int64_t next = 0;  // frames taken so far
    std::vector<uint8_t> generalPerFrame;
    std::vector<uint8_t> redPerFrame;
};

Analysis analysis;

}  // namespace

void startFlashAnalysis(int32_t fps, int64_t firstFrame, int64_t frames) {
    startFlashTracker();
    analysis.fps = fps;
    analysis.firstFrame = firstFrame;
    analysis.next = 0;
    // Every frame from the show's start is followed (a pixel's course and the
    // one-second stretches reach back before --from); a byte each.
    const size_t count = static_cast<size_t>(std::max<int64_t>(frames, 0));
    analysis.generalPerFrame.assign(count, 0);
    analysis.redPerFrame.assign(count, 0);
}

void analyseFlashFrame(const Pixel* frame) {
    recordFlashFrame(trackFlashFrame(frame));
}

void recordFlashFrame(const FlashTransitions& transitions) {
    const size_t at = static_cast<size_t>(analysis.next);
    if (at < analysis.generalPerFrame.size()) {
        analysis.generalPerFrame[at] = transitions.general ? 1 : 0;
        analysis.redPerFrame[at] = transitions.red ? 1 : 0;
    }
    ++analysis.next;
}

std::vector<FlashSecond> flashSeconds() {
    std::vector<FlashSecond> seconds;
    const int64_t taken =
        std::min<int64_t>(analysis.next, static_cast<int64_t>(analysis.generalPerFrame.size()));
    int windowGeneral = 0;
    int windowRed = 0;
    // The report starts with the second that holds the first frame written,
    // and says of it what the whole render says.
    const int64_t firstSecond = analysis.firstFrame / analysis.fps;
    for (int64_t k = 0; k < taken; ++k) {
        // The one-second stretch ending at frame k.
        windowGeneral += analysis.generalPerFrame[k];
        windowRed += analysis.redPerFrame[k];
        if (k >= analysis.fps) {
            windowGeneral -= analysis.generalPerFrame[k - analysis.fps];
            windowRed -= analysis.redPerFrame[k - analysis.fps];
        }
        const int64_t second = k / analysis.fps;
        if (second < firstSecond)
            continue;
        if (seconds.empty() || seconds.back().second != second)
            seconds.push_back({second, 0, 0, true});
        FlashSecond& current = seconds.back();
        current.generalTransitions += analysis.generalPerFrame[k];
        current.redTransitions += analysis.redPerFrame[k];
        if (windowGeneral > kFlashTransitionsAllowed || windowRed > kFlashTransitionsAllowed)
            current.passes = false;
    }
    return seconds;
}

std::string formatFlashReport(const std::vector<FlashSecond>& seconds) {
    std::string text =
        "# Flashes per second (WCAG 2.3.1): a flash is two opposing changes, in relative\n"
        "# luminance of 0.1 or more with the darker state below 0.8 (general), or of more\n"
        "# than 20 in (R-G-B)x320 to or from saturated red (red, WCAG 2.0), over at least\n"
        "# 8525 pixels of some 213x160 area: a quarter of a 10-degree field with the frame\n"
        "# shown 1024 pixels wide (1024x768 at 22 to 26 inches). A pixel's change counts\n"
        "# when it lies in a 3x3 square of which 7 pixels change the same way: patterns\n"
        "# finer than 0.1 degree (noise, pixel checkerboards) do not flash. One frame\n"
        "# holds at most one change of each kind. A second passes when no one-second\n"
        "# stretch ending in it holds more than three flashes of either kind.\n"
        "# second general_flashes red_flashes limit\n";
    const auto flashes = [](int transitions) {
        return std::to_string(transitions / 2) + (transitions % 2 != 0 ? ".5" : "");
    };
    int failing = 0;
    int mostGeneral = 0;
    int mostRed = 0;
    for (const FlashSecond& s : seconds) {
        text += std::to_string(s.second) + " " + flashes(s.generalTransitions) + " " +
                flashes(s.redTransitions) + (s.passes ? " pass\n" : " fail\n");
        failing += s.passes ? 0 : 1;
        mostGeneral = std::max(mostGeneral, s.generalTransitions);
        mostRed = std::max(mostRed, s.redTransitions);
    }
    text += "# " + std::to_string(failing) + " of " + std::to_string(seconds.size()) +
            " seconds fail; most in one second: " + flashes(mostGeneral) + " general, " +
            flashes(mostRed) + " red\n";
    return text;
}
