#include "render/flash_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

// With the flashing reduced: per frame, the pixels shown otherwise than
// composed; per stretch of 1/6 s, the mean squared error of the two
// averaged over it. Within a stretch only the differences are summed (shown
// minus composed, per channel), and only over frames with pixels held.
struct Closeness {
    bool recorded = false;
    int32_t stretchFrames = 10;
    std::vector<int32_t> changedPerFrame;
    std::vector<double> errorPerStretch;
    std::vector<int32_t> difference;  // R, G, B of every pixel
    bool differs = false;             // the stretch so far has a held pixel
};

Closeness closeness;

// Ends the stretch holding frame k when k is its last frame, or `early`.
void closeStretch(int64_t k, bool early) {
    const int64_t stretch = k / closeness.stretchFrames;
    if (!early && (k + 1) % closeness.stretchFrames != 0)
        return;
    double error = 0.0;
    if (closeness.differs) {
        const int64_t frames = k - stretch * closeness.stretchFrames + 1;
        double sum = 0.0;
        for (int32_t& d : closeness.difference) {
            const double mean = static_cast<double>(d) / static_cast<double>(frames);
            sum += mean * mean;
            d = 0;
        }
        error = sum / static_cast<double>(closeness.difference.size());
        closeness.differs = false;
    }
    if (static_cast<size_t>(stretch) < closeness.errorPerStretch.size())
        closeness.errorPerStretch[static_cast<size_t>(stretch)] = error;
}

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
    closeness.recorded = false;
    closeness.stretchFrames = std::max(1, (fps + 3) / 6);  // 1/6 s, to the nearest frame
    closeness.changedPerFrame.assign(count, 0);
    closeness.errorPerStretch.assign(count / static_cast<size_t>(closeness.stretchFrames) + 1, 0.0);
    closeness.difference.clear();
    closeness.differs = false;
}

void recordShownFrame(const Pixel* composed, const Pixel* shown) {
    const int64_t k = analysis.next - 1;
    if (k < 0 || static_cast<size_t>(k) >= closeness.changedPerFrame.size())
        return;
    if (!closeness.recorded) {
        closeness.recorded = true;
        closeness.difference.assign(size_t{kScreenPixels} * 3, 0);
    }
    if (shown != composed) {
        int32_t changed = 0;
        int32_t* difference = closeness.difference.data();
        for (int i = 0; i < kScreenPixels; ++i) {
            const Pixel a = composed[i];
            const Pixel b = shown[i];
            changed += ((a ^ b) & 0xFFFFFF) != 0 ? 1 : 0;
            difference[3 * i] +=
                static_cast<int32_t>((b >> 16) & 0xFF) - static_cast<int32_t>((a >> 16) & 0xFF);
            difference[3 * i + 1] +=
                static_cast<int32_t>((b >> 8) & 0xFF) - static_cast<int32_t>((a >> 8) & 0xFF);
            difference[3 * i + 2] +=
                static_cast<int32_t>(b & 0xFF) - static_cast<int32_t>(a & 0xFF);
        }
        closeness.changedPerFrame[static_cast<size_t>(k)] = changed;
        closeness.differs = closeness.differs || changed != 0;
    }
    closeStretch(k, false);
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
    // The last stretch, however short, unless it ended with its last frame.
    if (closeness.recorded && taken > 0 && taken % closeness.stretchFrames != 0)
        closeStretch(taken - 1, true);
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
    if (closeness.recorded) {
        for (FlashSecond& s : seconds) {
            const int64_t first = s.second * analysis.fps;
            const int64_t end = std::min<int64_t>(first + analysis.fps, taken);
            int64_t changed = 0;
            for (int64_t k = first; k < end; ++k)
                changed += closeness.changedPerFrame[static_cast<size_t>(k)];
            s.changedShare =
                static_cast<double>(changed) / (static_cast<double>(end - first) * kScreenPixels);
            // The stretches that start in this second.
            const int64_t n = closeness.stretchFrames;
            double error = 0.0;
            int64_t stretches = 0;
            for (int64_t t = (first + n - 1) / n; t * n < end; ++t, ++stretches)
                error += closeness.errorPerStretch[static_cast<size_t>(t)];
            error = stretches > 0 ? error / static_cast<double>(stretches) : 0.0;
            s.psnr = error > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / error)
                                 : std::numeric_limits<double>::infinity();
        }
    }
    return seconds;
}

std::string formatFlashReport(const std::vector<FlashSecond>& seconds, bool closenessToo) {
    std::string text =
        "# Flashes per second (WCAG 2.3.1): a flash is two opposing changes, in relative\n"
        "# luminance of 0.1 or more with the darker state below 0.8 (general), or of more\n"
        "# than 20 in (R-G-B)x320 to or from saturated red (red, WCAG 2.0), over at least\n"
        "# 8525 pixels of some 213x160 area: a quarter of a 10-degree field with the frame\n"
        "# shown 1024 pixels wide (1024x768 at 22 to 26 inches). A pixel's change counts\n"
        "# when it lies in a 3x3 square of which 7 pixels change the same way: patterns\n"
        "# finer than 0.1 degree (noise, pixel checkerboards) do not flash. One frame\n"
        "# holds at most one change of each kind. A second passes when no one-second\n"
        "# stretch ending in it holds more than three flashes of either kind.\n";
    if (closenessToo) {
        text +=
            "# The flashing is reduced: changed is the share of the second's pixels shown\n"
            "# otherwise than composed; psnr compares the shown and the composed frames\n"
            "# over R, G and B after each is averaged over 1/6 s (inf: the same).\n"
            "# second general_flashes red_flashes limit changed_percent psnr_db\n";
    } else {
        text += "# second general_flashes red_flashes limit\n";
    }
    const auto flashes = [](int transitions) {
        return std::to_string(transitions / 2) + (transitions % 2 != 0 ? ".5" : "");
    };
    const auto decibels = [](double psnr) {
        char number[32];
        std::snprintf(number, sizeof number, "%.1f", psnr);
        return std::isinf(psnr) ? std::string("inf") : std::string(number);
    };
    int failing = 0;
    int mostGeneral = 0;
    int mostRed = 0;
    double changed = 0.0;
    double lowestPsnr = std::numeric_limits<double>::infinity();
    for (const FlashSecond& s : seconds) {
        text += std::to_string(s.second) + " " + flashes(s.generalTransitions) + " " +
                flashes(s.redTransitions) + (s.passes ? " pass" : " fail");
        if (closenessToo) {
            char percent[32];
            std::snprintf(percent, sizeof percent, " %.2f ", 100.0 * s.changedShare);
            text += percent + decibels(s.psnr);
            changed += s.changedShare;
            lowestPsnr = std::min(lowestPsnr, s.psnr);
        }
        text += "\n";
        failing += s.passes ? 0 : 1;
        mostGeneral = std::max(mostGeneral, s.generalTransitions);
        mostRed = std::max(mostRed, s.redTransitions);
    }
    text += "# " + std::to_string(failing) + " of " + std::to_string(seconds.size()) +
            " seconds fail; most in one second: " + flashes(mostGeneral) + " general, " +
            flashes(mostRed) + " red\n";
    if (closenessToo && !seconds.empty()) {
        char summary[128];
        std::snprintf(summary, sizeof summary, "# changed %.2f%% of all pixels shown; ",
                      100.0 * changed / static_cast<double>(seconds.size()));
        text += summary + ("lowest psnr " + decibels(lowestPsnr) + " dB\n");
    }
    return text;
}
