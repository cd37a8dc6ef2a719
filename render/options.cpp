#include "render/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "render/video_encoder.h"
#include "synth/synthesiser.h"

namespace {

[[noreturn]] void usageError(const CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "queltravine-render: %s\n\n%s", message.c_str(), app.help().c_str());
    std::exit(2);
}

// Values are taken as text and converted here, so that only plain decimal
// digits are accepted (no signs, hexadecimal or exponents) and the message
// names the range.
struct WholeNumber {
    const char* name;
    int64_t low;
    int64_t high;
    int64_t value;  // the default until given
    std::string text = {};
};

// Edits (insertions, deletions, substitutions) that turn a into b.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Names the first argument that looks like an option but is none, with the
// nearest real option when it is probably a misspelling; empty if none does.
std::string unknownOptionMessage(const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name.size() < 2 || name[0] != '-')
            continue;
        name = name.substr(0, name.find('='));
        if (app.get_option_no_throw(name) != nullptr)
            continue;
        std::string nearest;
        size_t nearestDistance = 3;  // more edits than this is not a misspelling
        for (const CLI::Option* option : app.get_options()) {
            for (const std::string& known : option->get_lnames()) {
                const size_t distance = editDistance(name, "--" + known);
                if (distance < nearestDistance) {
                    nearestDistance = distance;
                    nearest = "--" + known;
                }
            }
        }
        std::string message = "unknown option '" + name + "'";
        if (!nearest.empty())
            message += " (did you mean '" + nearest + "'?)";
        return message;
    }
    return {};
}

}  // namespace

RenderOptions parseRenderOptions(int argc, char** argv) {
    RenderOptions options;
    CLI::App app("Renders the demo against a virtual clock, bit for bit the same on every run.",
                 "queltravine-render");
    app.set_help_flag("-h,--help", "show this help");
    app.set_version_flag("--version", "queltravine-render " QUELTRAVINE_VERSION,
                         "show the version");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.get_formatter()->column_width(22);
    app.footer(
        "Exit status: 0 when every output is written; 1 on a failure (a missing picture,\n"
        "an output that cannot be written, a failed encode), which leaves nothing\n"
        "half-written; 2 on a bad option.");

    const char* const outputs = "Outputs (any combination, at least one)";
    app.add_option("--wav", options.wavPath, "the audio: 22050 Hz 16-bit stereo PCM WAV")
        ->type_name("FILE")
        ->group(outputs);
    WholeNumber wavRate{"--wav-rate", kAudioRate, 2 * kAudioRate, kAudioRate};
    app.add_option("--wav-rate", wavRate.text,
                   "22050 (the synthesiser's stream, default) or 44100 (that stream "
                   "through the project's half-band upsampler)")
        ->type_name("HZ")
        ->group(outputs);
    app.add_option("--frames", options.framesDir,
                   "frames as DIR/frame-NNNNNN.png (RGB); DIR is created")
        ->type_name("DIR")
        ->group(outputs);
    WholeNumber every{"--every", 1, 1'000'000'000, options.every};
    app.add_option("--every", every.text,
                   "with --frames or --crc, keep frames whose index is a multiple of N")
        ->type_name("N")
        ->group(outputs);
    app.add_option("--video", options.videoPath,
                   "frames and audio encoded by ffmpeg (H.264 and AAC for .mp4 .mov .mkv .m4v)")
        ->type_name("FILE")
        ->group(outputs);
    WholeNumber scale{"--scale", 1, 8, kDefaultVideoScale};
    app.add_option("--scale", scale.text,
                   "with --video, enlarge frames N times, 1 to 8 (nearest neighbour; default 2, "
                   "1 with --lossless or --chroma 444)")
        ->type_name("N")
        ->group(outputs);
    app.add_flag("--lossless", options.lossless,
                 "with --video: FFV1 and FLAC in a .mkv, every pixel and sample kept")
        ->group(outputs);
    WholeNumber crf{"--crf", 0, 51, kDefaultVideoCrf};
    app.add_option("--crf", crf.text,
                   "with an H.264 --video, the quality: 0 to 51, lower is better (default " +
                       std::to_string(kDefaultVideoCrf) + ", " + std::to_string(kDefault444Crf) +
                       " with --chroma 444)")
        ->type_name("N")
        ->group(outputs);
    app.add_option("--preset", options.preset,
                   std::string("with an H.264 --video, libx264's speed preset, ultrafast to "
                               "placebo (default ") +
                       kDefaultVideoPreset + ")")
        ->type_name("NAME")
        ->group(outputs);
    app.add_option("--chroma", options.chroma,
                   "with an H.264 --video, the chroma: 420 (default: one sample per 2x2 "
                   "block, for uploads) or 444 (every pixel's own colour, for downloads)")
        ->type_name("420|444")
        ->group(outputs);
    app.add_flag("--reduce-flashes", options.reduceFlashes,
                 "the show with its flashing reduced to three flashes a second at most "
                 "(WCAG 2.3.1): in every frame output; the audio is unchanged")
        ->group(outputs);
    app.add_option("--log", options.logPath,
                   "one line per frame: clock, elapsed time, residues, accumulator, scene")
        ->type_name("FILE")
        ->group(outputs);
    app.add_option("--crc", options.crcPath,
                   "one line per frame kept by --every: INDEX and the CRC-32 of the frame's "
                   "1,228,800 bytes")
        ->type_name("FILE")
        ->group(outputs);
    app.add_option("--flash-report", options.flashReportPath,
                   "per second: general and red flashes (WCAG 2.3.1) and whether the "
                   "three-flashes limit holds; with --reduce-flashes, also the share of pixels "
                   "held and their PSNR against the plain show over 1/6 s")
        ->type_name("FILE")
        ->group(outputs);

    const char* const schedule = "Schedule";
    std::string seconds;
    app.add_option("--seconds", seconds, "length in seconds, decimals allowed (default 110)")
        ->type_name("S")
        ->group(schedule);
    std::string from;
    app.add_option("--from", from,
                   "write the outputs from this time on, decimals allowed (default 0); "
                   "everything before is still computed")
        ->type_name("S")
        ->group(schedule);
    WholeNumber fps{"--fps", 1, 1000, options.schedule.fps};
    app.add_option("--fps", fps.text, "frames per second, 1 to 1000 (default 60)")
        ->type_name("F")
        ->group(schedule);
    WholeNumber startMs{"--start-ms", 0, 4'294'967'295, options.schedule.startMs};
    app.add_option("--start-ms", startMs.text,
                   "clock reading at the start, 0 to 4294967295 (default 0)")
        ->type_name("T0")
        ->group(schedule);
    WholeNumber audioBlock{"--audio-block", 4, 16 << 20, options.schedule.audioBlockBytes};
    app.add_option("--audio-block", audioBlock.text,
                   "bytes per synthesiser block, 4 to 16777216 (default 40000)")
        ->type_name("B")
        ->group(schedule);
    app.add_option("--pictures", options.picturesDir,
                   "folder holding the six pictures (default: current folder)")
        ->type_name("DIR")
        ->group(schedule);
    app.add_flag("--force", options.force, "overwrite existing outputs");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        std::exit(app.exit(e));
    } catch (const CLI::CallForVersion& e) {
        std::exit(app.exit(e));
    } catch (const CLI::ExtrasError& e) {
        const std::string unknown = unknownOptionMessage(app, argc, argv);
        usageError(app, unknown.empty() ? e.what() : unknown);
    } catch (const CLI::ParseError& e) {
        usageError(app, e.what());
    }

    for (const char* name :
         {"--wav", "--frames", "--video", "--log", "--crc", "--flash-report", "--pictures",
          "--seconds", "--from", "--every", "--scale", "--crf", "--preset", "--chroma", "--fps",
          "--start-ms", "--audio-block", "--wav-rate"}) {
        const CLI::Option* option = app.get_option(name);
        if (option->count() > 0 && option->results().back().empty())
            usageError(app, std::string("option '") + name + "' needs a value");
    }
    for (WholeNumber* number : {&every, &scale, &crf, &fps, &startMs, &audioBlock, &wavRate}) {
        if (number->text.empty())
            continue;
        if (!parseInteger(number->text.c_str(), number->low, number->high, &number->value)) {
            usageError(app, "'" + number->text + "' is not valid for " + number->name +
                                " (a whole number from " + std::to_string(number->low) + " to " +
                                std::to_string(number->high) + ")");
        }
    }
    if (wavRate.value != kAudioRate && wavRate.value != 2 * kAudioRate)
        usageError(app, "'" + wavRate.text + "' is not valid for --wav-rate (22050 or 44100)");
    options.wavRate = static_cast<int32_t>(wavRate.value);
    options.every = every.value;
    // Lossless and 4:4:4 captures keep every pixel's colour at 640x480: the
    // player enlarges them, so an enlargement here would only cost size.
    options.scale =
        scale.text.empty() && (options.lossless || options.chroma == "444") ? 1 : scale.value;
    options.crf = crf.text.empty() ? -1 : crf.value;
    if (!options.preset.empty() && !isVideoPreset(options.preset)) {
        usageError(app, "'" + options.preset +
                            "' is not a preset of libx264 (ultrafast, superfast, veryfast, "
                            "faster, fast, medium, slow, slower, veryslow, placebo)");
    }
    if (!options.chroma.empty()) {
        if (options.chroma != "420" && options.chroma != "444")
            usageError(app, "'" + options.chroma + "' is not valid for --chroma (420 or 444)");
        if (options.videoPath.empty() || options.lossless ||
            !hasVideoCodecDefaults(options.videoPath)) {
            usageError(app,
                       "--chroma is for an H.264 --video (.mp4 .mov .mkv .m4v, not --lossless)");
        }
    }
    if (options.lossless) {
        if (options.videoPath.empty())
            usageError(app, "--lossless goes with --video");
        if (options.crf >= 0 || !options.preset.empty())
            usageError(app, "--crf and --preset are for H.264, not --lossless");
        const std::string& path = options.videoPath;
        if (path.size() < 4 || !std::equal(path.end() - 4, path.end(), ".mkv"))
            usageError(app, "--lossless writes FFV1 and FLAC, which need a .mkv file");
    }
    options.schedule.fps = static_cast<int32_t>(fps.value);
    options.schedule.startMs = static_cast<uint32_t>(startMs.value);
    options.schedule.audioBlockBytes = static_cast<int32_t>(audioBlock.value);
    if (!seconds.empty() && !parseSeconds(seconds.c_str(), &options.lengthMicros)) {
        usageError(app, "'" + seconds +
                            "' is not valid for --seconds (seconds from 0 to 10000000, at most "
                            "six decimals)");
    }
    if (!from.empty() && !parseSeconds(from.c_str(), &options.fromMicros)) {
        usageError(app, "'" + from +
                            "' is not valid for --from (seconds from 0 to 10000000, at most "
                            "six decimals)");
    }
    if (options.reduceFlashes && !needsFrames(options)) {
        usageError(app,
                   "--reduce-flashes changes the frames: give --frames, --video, --crc, --log or "
                   "--flash-report");
    }
    if (!writesAnything(options)) {
        usageError(app,
                   "nothing to write: give --wav, --frames, --video, --log, --crc or "
                   "--flash-report");
    }
    options.schedule.frames = frameCountFor(options.lengthMicros, options.schedule.fps);
    options.schedule.firstFrame = firstFrameAt(options.fromMicros, options.schedule.fps);
    if (options.fromMicros > 0 && options.schedule.firstFrame >= options.schedule.frames) {
        usageError(app, "--from " + from + " leaves no frame to write: the render ends at " +
                            (seconds.empty() ? std::string("110") : seconds) + " s (--seconds)");
    }
    return options;
}

std::array<const std::string*, 5> fileOutputs(const RenderOptions& options) {
    return {&options.wavPath, &options.videoPath, &options.logPath, &options.crcPath,
            &options.flashReportPath};
}

bool writesAnything(const RenderOptions& options) {
    return !options.wavPath.empty() || needsFrames(options);
}

bool needsFrames(const RenderOptions& options) {
    const auto outputs = fileOutputs(options);
    return !options.framesDir.empty() ||
           std::any_of(outputs.begin(), outputs.end(), [&](const std::string* path) {
               return path != &options.wavPath && !path->empty();
           });
}

bool parseSeconds(const char* text, int64_t* micros) {
    constexpr int64_t kMaxSeconds = 10'000'000;
    int64_t whole = 0;
    int64_t fraction = 0;
    int digits = 0;
    int decimals = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        whole = whole * 10 + (*p - '0');
        if (whole > kMaxSeconds)
            return false;
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (++decimals > 6)
                return false;
            fraction = fraction * 10 + (*p - '0');
        }
    }
    if (*p != '\0' || digits == 0)
        return false;
    for (int d = decimals; d < 6; ++d)
        fraction *= 10;
    *micros = whole * 1'000'000 + fraction;
    return *micros <= kMaxSeconds * 1'000'000;
}

bool parseInteger(const char* text, int64_t low, int64_t high, int64_t* value) {
    // Unsigned: no sign is taken, only digits.
    uint64_t result = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, result);
    if (error != std::errc() || stop != end || high < 0 || result > static_cast<uint64_t>(high) ||
        static_cast<int64_t>(result) < low)
        return false;
    *value = static_cast<int64_t>(result);
    return true;
}
