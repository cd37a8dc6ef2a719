#include "render/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "render/video_encoder.h"
#include "synth/synthesiser.h"

namespace {

[[noreturn]] void usageError(const CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "queltravine-render: %s\n\n%s", message.c_str(), app.help().c_str());
    std::exit(2);
}

// A whole decimal number from low to high: digits only, so that no sign,
// hexadecimal or exponent (which CLI11's own conversion takes) slips in.
CLI::Validator wholeNumber(int64_t low, int64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            int64_t value = 0;
            if (parseInteger(text.c_str(), low, high, &value))
                return {};
            return "'" + text + "' is not a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high);
        },
        "");
}

// Seconds from 0 to 10000000 with at most six decimals.
const CLI::Validator kSeconds(
    [](std::string& text) -> std::string {
        int64_t micros = 0;
        return parseSeconds(text.c_str(), &micros)
                   ? std::string()
                   : "'" + text + "' is not seconds from 0 to 10000000 with at most six decimals";
    },
    "");

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

// The member sets say their values in the options' own type names.
CLI::Validator oneOf(const std::vector<std::string>& values) {
    return CLI::IsMember(values).description("");
}

void addOutputOptions(CLI::App& app, RenderOptions& options) {
    const size_t before = app.get_options().size();
    app.add_option("--wav", options.wavPath, "the audio: 22050 Hz 16-bit stereo PCM WAV")
        ->type_name("FILE");
    app.add_option("--wav-rate", options.wavRate,
                   "22050 (the synthesiser's stream, default) or 44100 (that stream "
                   "through the project's half-band upsampler)")
        ->type_name("HZ")
        ->check(oneOf({std::to_string(kAudioRate), std::to_string(2 * kAudioRate)}));
    app.add_option("--frames", options.framesDir,
                   "frames as DIR/frame-NNNNNN.png (RGB); DIR is created")
        ->type_name("DIR");
    app.add_option("--every", options.every,
                   "with --frames or --crc, keep frames whose index is a multiple of N")
        ->type_name("N")
        ->check(wholeNumber(1, 1'000'000'000));
    CLI::Option* video =
        app.add_option("--video", options.videoPath,
                       "frames and audio encoded by ffmpeg (H.264 and AAC for .mp4 .mov .mkv .m4v)")
            ->type_name("FILE");
    app.add_option("--scale", options.scale,
                   "with --video, enlarge frames N times, 1 to 8 (nearest neighbour; default 2, "
                   "1 with --lossless or --chroma 444)")
        ->type_name("N")
        ->check(wholeNumber(1, 8));
    CLI::Option* lossless =
        app.add_flag("--lossless", options.lossless,
                     "with --video: FFV1 and FLAC in a .mkv, every pixel and sample kept")
            ->needs(video);
    app.add_option("--crf", options.crf,
                   "with an H.264 --video, the quality: 0 to 51, lower is better (default " +
                       std::to_string(kDefaultVideoCrf) + ", " + std::to_string(kDefault444Crf) +
                       " with --chroma 444)")
        ->type_name("N")
        ->check(wholeNumber(0, 51))
        ->excludes(lossless);
    app.add_option("--preset", options.preset,
                   std::string("with an H.264 --video, libx264's speed preset, ultrafast to "
                               "placebo (default ") +
                       kDefaultVideoPreset + ")")
        ->type_name("NAME")
        ->check(oneOf(std::vector<std::string>(kVideoPresets.begin(), kVideoPresets.end())))
        ->excludes(lossless);
    app.add_option("--chroma", options.chroma,
                   "with an H.264 --video, the chroma: 420 (default: one sample per 2x2 "
                   "block, for uploads) or 444 (every pixel's own colour, for downloads)")
        ->type_name("420|444")
        ->check(oneOf({"420", "444"}))
        ->needs(video)
        ->excludes(lossless);
    app.add_flag("--reduce-flashes", options.reduceFlashes,
                 "the show with its flashing reduced to three flashes a second at most "
                 "(WCAG 2.3.1): in every frame output; the audio is unchanged");
    app.add_option("--log", options.logPath,
                   "one line per frame: clock, elapsed time, residues, accumulator, scene")
        ->type_name("FILE");
    app.add_option("--crc", options.crcPath,
                   "one line per frame kept by --every: INDEX and the CRC-32 of the frame's "
                   "1,228,800 bytes")
        ->type_name("FILE");
    app.add_option("--flash-report", options.flashReportPath,
                   "per second: general and red flashes (WCAG 2.3.1) and whether the "
                   "three-flashes limit holds; with --reduce-flashes, also the share of pixels "
                   "held and their PSNR against the plain show over 1/6 s")
        ->type_name("FILE");
    const std::vector<CLI::Option*> added = app.get_options();
    for (size_t k = before; k < added.size(); ++k)
        added[k]->group("Outputs (any combination, at least one)");
}

void addScheduleOptions(CLI::App& app, RenderOptions& options, std::string& seconds,
                        std::string& from) {
    const char* const schedule = "Schedule";
    app.add_option("--seconds", seconds, "length in seconds, decimals allowed (default 110)")
        ->type_name("S")
        ->check(kSeconds)
        ->group(schedule);
    app.add_option("--from", from,
                   "write the outputs from this time on, decimals allowed (default 0); "
                   "everything before is still computed")
        ->type_name("S")
        ->check(kSeconds)
        ->group(schedule);
    app.add_option("--fps", options.schedule.fps, "frames per second, 1 to 1000 (default 60)")
        ->type_name("F")
        ->check(wholeNumber(1, 1000))
        ->group(schedule);
    app.add_option("--start-ms", options.schedule.startMs,
                   "clock reading at the start, 0 to 4294967295 (default 0)")
        ->type_name("T0")
        ->check(wholeNumber(0, 4'294'967'295))
        ->group(schedule);
    app.add_option("--audio-block", options.schedule.audioBlockBytes,
                   "bytes per synthesiser block, 4 to 16777216 (default 40000)")
        ->type_name("B")
        ->check(wholeNumber(4, 16 << 20))
        ->group(schedule);
    app.add_option("--pictures", options.picturesDir,
                   "folder holding the six pictures (default: current folder)")
        ->type_name("DIR")
        ->group(schedule);
}

// What CLI11 cannot say of the options: what the file names and the
// outputs given allow.
void checkCombinations(const CLI::App& app, RenderOptions& options, const std::string& seconds,
                       const std::string& from) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_items_expected_min() > 0 && option->count() > 0 &&
            option->results().back().empty())
            usageError(app, "option '" + option->get_name() + "' needs a value");
    }
    if (!options.chroma.empty() && !hasVideoCodecDefaults(options.videoPath))
        usageError(app, "--chroma is for an H.264 --video (.mp4 .mov .mkv .m4v, not --lossless)");
    const std::string& path = options.videoPath;
    if (options.lossless && (path.size() < 4 || !std::equal(path.end() - 4, path.end(), ".mkv")))
        usageError(app, "--lossless writes FFV1 and FLAC, which need a .mkv file");
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
    if (options.fromMicros > 0 && options.schedule.firstFrame >= options.schedule.frames) {
        usageError(app, "--from " + from + " leaves no frame to write: the render ends at " +
                            (seconds.empty() ? std::string("110") : seconds) + " s (--seconds)");
    }
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
    addOutputOptions(app, options);
    std::string seconds;
    std::string from;
    addScheduleOptions(app, options, seconds, from);
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
    // Lossless and 4:4:4 captures keep every pixel's colour at 640x480: the
    // player enlarges them, so an enlargement here would only cost size.
    if (app.count("--scale") == 0 && (options.lossless || options.chroma == "444"))
        options.scale = 1;
    if (!seconds.empty())
        parseSeconds(seconds.c_str(), &options.lengthMicros);
    if (!from.empty())
        parseSeconds(from.c_str(), &options.fromMicros);
    options.schedule.frames = frameCountFor(options.lengthMicros, options.schedule.fps);
    options.schedule.firstFrame = firstFrameAt(options.fromMicros, options.schedule.fps);
    checkCombinations(app, options, seconds, from);
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
