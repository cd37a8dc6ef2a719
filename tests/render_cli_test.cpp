// The offline renderer as a user runs it: a real process, real files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pictures/picture_loader.h"
#include "platform/audio_feed.h"
#include "render/schedule.h"
#include "synth/synthesiser.h"
#include "synth/upsampler.h"
#include "tests/render_files.h"

namespace fs = std::filesystem;

namespace {

struct RenderRun {
    int status = -1;
    std::string err;
    std::string out;
};

class RenderCli : public TestFolder {
  protected:
    // Runs the renderer with the demo's pictures unless args name others.
    RenderRun render(const std::string& args, bool withPictures = true) const {
        const fs::path errPath = dir / "stderr.txt";
        const fs::path outPath = dir / "stdout.txt";
        std::string command = std::string(RENDER_EXE) + " " + args;
        if (withPictures)
            command += " --pictures " + std::string(DATA_DIR);
        command += " </dev/null >" + outPath.string() + " 2>" + errPath.string();
        const int raw = std::system(command.c_str());
        RenderRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.err = readFile(errPath);
        run.out = readFile(outPath);
        return run;
    }

    std::vector<std::vector<std::string>> readLog(const fs::path& path) const {
        std::ifstream in(path);
        std::vector<std::vector<std::string>> rows;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::vector<std::string> row;
            std::string field;
            while (fields >> field)
                row.push_back(field);
            rows.push_back(row);
        }
        return rows;
    }
};

TEST_F(RenderCli, WritesTheScheduledAudioLogAndFrames) {
    const RenderRun run = render("--seconds 6 --fps 10 --audio-block 4000 --every 20 --wav " +
                                 (dir / "a.wav").string() + " --log " + (dir / "a.log").string() +
                                 " --frames " + (dir / "frames").string());
    ASSERT_EQ(run.status, 0) << run.err;

    // The WAV holds exactly the synthesiser's bytes, trimmed to 6 s.
    const std::string wav = readFile(dir / "a.wav");
    const int64_t frames = 6 * 22050;
    ASSERT_EQ(wav.size(), 44 + frames * 4);
    resetSynthesiser();
    std::vector<uint8_t> expected;
    std::vector<uint8_t> block(4000);
    while (expected.size() < static_cast<size_t>(frames * 4)) {
        fillStereoBlock(nullptr, block.data(), 4000, 0);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(std::memcmp(wav.data() + 44, expected.data(), frames * 4), 0);

    // Each frame sees the residues of the last block made before it.
    const auto log = readLog(dir / "a.log");
    ASSERT_EQ(log.size(), 61u);
    EXPECT_EQ(log[0][0], "#");
    resetSynthesiser();
    int64_t produced = 0;
    int scenesSeen = 0;
    for (int k = 0; k < 60; ++k) {
        while (produced < (k + 1) * 22050 / 10) {
            fillStereoBlock(nullptr, block.data(), 4000, 0);
            produced += 1000;
        }
        const auto& row = log[k + 1];
        ASSERT_EQ(row.size(), 8u) << k;
        EXPECT_EQ(row[0], std::to_string(k));
        EXPECT_EQ(row[1], std::to_string(k * 100));
        EXPECT_EQ(row[4], std::to_string(stepResidueA.load())) << k;
        EXPECT_EQ(row[5], std::to_string(stepResidueB.load())) << k;
        scenesSeen |= 1 << std::stoi(row[7]);
    }
    EXPECT_EQ(scenesSeen, 0b11);  // 6 s: the warning, then the credits
    EXPECT_EQ(log[50][7], "0");   // frame 49 at 4.9 s
    EXPECT_EQ(log[52][7], "1");   // frame 51 at 5.1 s

    // Every 20th frame, named by its index; frame 0 is the warning itself.
    EXPECT_TRUE(fs::exists(dir / "frames" / "frame-000000.png"));
    EXPECT_TRUE(fs::exists(dir / "frames" / "frame-000040.png"));
    EXPECT_FALSE(fs::exists(dir / "frames" / "frame-000010.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "frames"), fs::directory_iterator()), 3);

    std::vector<Pixel> warning(Picture::pixels, 0);
    loadPicture((fs::path(DATA_DIR) / "warning.jpg").c_str(), warning.data(), Picture::pixels);
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<Pixel> shown = readPng(dir / "frames" / "frame-000000.png", &width, &height);
    ASSERT_EQ(shown.size(), warning.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i], warning[i] & 0xFFFFFFu) << i;
    }
}

TEST_F(RenderCli, SameCommandSameBytes) {
    const std::string args = "--seconds 40 --fps 2 --every 25 --start-ms 123456 ";
    ASSERT_EQ(render(args + "--wav " + (dir / "1.wav").string() + " --log " +
                     (dir / "1.log").string() + " --frames " + (dir / "f1").string())
                  .status,
              0);
    ASSERT_EQ(render(args + "--wav " + (dir / "2.wav").string() + " --log " +
                     (dir / "2.log").string() + " --frames " + (dir / "f2").string())
                  .status,
              0);
    EXPECT_EQ(readFile(dir / "1.wav"), readFile(dir / "2.wav"));
    EXPECT_EQ(readFile(dir / "1.log"), readFile(dir / "2.log"));
    for (const char* name : {"frame-000000.png", "frame-000050.png", "frame-000075.png"}) {
        const std::string first = readFile(dir / "f1" / name);
        EXPECT_FALSE(first.empty()) << name;
        EXPECT_EQ(first, readFile(dir / "f2" / name)) << name;
    }
    // Frame 75 (37.5 s) is the noise scene, drawn from the generator.
    EXPECT_NE(readFile(dir / "f1" / "frame-000075.png"), readFile(dir / "f1" / "frame-000000.png"));
}

TEST_F(RenderCli, NeverOverwritesWithoutForce) {
    const std::string wav = (dir / "a.wav").string();
    std::ofstream(wav) << "keep me";
    RenderRun run = render("--seconds 1 --wav " + wav);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("exists"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(wav), "keep me");

    fs::create_directories(dir / "frames");
    std::ofstream(dir / "frames" / "frame-000030.png") << "keep me too";
    run = render("--seconds 1 --fps 60 --every 30 --frames " + (dir / "frames").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frame-000030.png"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "frames" / "frame-000030.png"), "keep me too");
    EXPECT_FALSE(fs::exists(dir / "frames" / "frame-000000.png"));

    run = render("--seconds 1 --force --wav " + wav);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(wav).size(), 44u + 22050 * 4);
}

TEST_F(RenderCli, BadOptionsShowUsage) {
    for (const char* args :
         {"", "--wav", "--bogus x --wav a.wav", "--fps 0 --wav a.wav", "--fps 1001 --wav a.wav",
          "--seconds -1 --wav a.wav", "--seconds 1.5s --wav a.wav", "--audio-block 3 --wav a.wav",
          "--every 0 --frames f", "--scale 0 --video v.mp4", "--scale 9 --video v.mp4",
          "--from 2 --seconds 2 --wav a.wav", "--from 111 --wav a.wav",
          "--from -1 --seconds 2 --wav a.wav", "--from 1e0 --seconds 2 --wav a.wav",
          "--flash-report"}) {
        const RenderRun run = render(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << args;
    }
    EXPECT_FALSE(fs::exists("a.wav"));
}

TEST_F(RenderCli, HelpVersionAndMisspellings) {
    RenderRun run = render("--help", false);
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--wav FILE", "--frames DIR", "--every N", "--video FILE",
                               "--scale N", "--log FILE", "--seconds S", "--fps F", "--start-ms T0",
                               "--audio-block B", "--pictures DIR", "--force", "--version"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option << "\n" << run.out;
    }
    EXPECT_TRUE(run.err.empty()) << run.err;

    run = render("--version", false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "queltravine-render " PROJECT_VERSION "\n");

    // A near miss names the option meant; a wild guess only the one given.
    run = render("--wavv a.wav");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("unknown option '--wavv' (did you mean '--wav'?)"), std::string::npos)
        << run.err;
    run = render("--frame=x --wav a.wav");
    EXPECT_NE(run.err.find("(did you mean '--frames'?)"), std::string::npos) << run.err;
    run = render("--colour red --wav a.wav");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("unknown option '--colour'\n"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists("a.wav"));

    // The last of a repeated option counts, as it always has.
    run = render("--seconds 5 --seconds 0.5 --wav " + (dir / "a.wav").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(dir / "a.wav").size(), 44u + 11025 * 4);
}

TEST_F(RenderCli, MissingPictureAndUnwritableOutput) {
    fs::create_directories(dir / "empty");
    RenderRun run = render(
        "--wav " + (dir / "a.wav").string() + " --pictures " + (dir / "empty").string(), false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find((dir / "empty" / "warning.jpg").string() + ": ERROR LOCATING..."),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "a.wav"));

    run = render("--seconds 1 --log /nonexistent-folder/a.log");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
}

// The default video: enlarged twice, BT.709 limited range, said so in the
// stream; four times for large uploads.
TEST_F(RenderCli, EncodesVideoWithFfmpeg) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") !=
        0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const auto probe = [&](const fs::path& video) {
        const fs::path text = dir / "probe.txt";
        const std::string command =
            "ffprobe -v error -show_entries "
            "stream=codec_name,width,height,pix_fmt,color_range,color_space,color_transfer,"
            "color_primaries -of compact " +
            video.string() + " >" + text.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        return readFile(text);
    };
    for (const char* name : {"demo.mp4", "demo.mkv"}) {
        const fs::path video = dir / name;
        const RenderRun run = render("--seconds 2 --fps 10 --video " + video.string());
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string streams = probe(video);
        EXPECT_NE(streams.find("codec_name=h264|width=1280|height=960|pix_fmt=yuv420p|"
                               "color_range=tv|color_space=bt709|color_transfer=bt709|"
                               "color_primaries=bt709"),
                  std::string::npos)
            << name << ": " << streams;
        EXPECT_NE(streams.find("codec_name=aac"), std::string::npos) << streams;
    }
    const fs::path large = dir / "large.mp4";
    RenderRun run = render("--seconds 0.5 --fps 10 --scale 4 --video " + large.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(probe(large).find("width=2560|height=1920"), std::string::npos);
    // 4:4:4 for keeping: the frame's own size unless a scale is given.
    const fs::path full = dir / "full.mp4";
    run = render("--seconds 0.5 --fps 10 --chroma 444 --video " + full.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(probe(full).find("width=640|height=480|pix_fmt=yuv444p|color_range=tv|"
                               "color_space=bt709"),
              std::string::npos)
        << probe(full);
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// Decoded back to 640x480, a video made without loss by x264 (CRF 0) holds
// every pixel's own colour to within the rounding of the colour conversion,
// in the XOR pattern where each pixel has a colour of its own.
TEST_F(RenderCli, EvenScaleKeepsEveryPixelsColour) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path video = dir / "exact.mkv";
    const fs::path frames = dir / "frames";
    const RenderRun run = render("--from 20 --seconds 20.05 --crf 0 --video " + video.string() +
                                 " --frames " + frames.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path pixels = dir / "pixels.raw";
    const std::string decode =
        "ffmpeg -v error -i " + video.string() +
        " -fps_mode passthrough -vf scale=640:480:flags=neighbor,format=gbrp "
        "-f rawvideo -pix_fmt bgr0 " +
        pixels.string();
    ASSERT_EQ(std::system(decode.c_str()), 0);
    const std::string decoded = readFile(pixels);
    ASSERT_EQ(decoded.size(), 3u * kScreenPixels * 4);
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<Pixel> expected = readPng(frames / "frame-001202.png", &width, &height);
    ASSERT_EQ(expected.size(), static_cast<size_t>(kScreenPixels));
    const auto* got = reinterpret_cast<const uint8_t*>(decoded.data()) + 2 * kScreenPixels * 4;
    const auto* want = reinterpret_cast<const uint8_t*>(expected.data());
    double squares = 0;
    int worst = 0;
    for (int i = 0; i < kScreenPixels * 4; ++i) {
        if (i % 4 == 3)
            continue;
        const int error = std::abs(got[i] - want[i]);
        squares += error * error;
        worst = std::max(worst, error);
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / (kScreenPixels * 3.0)));
    EXPECT_GE(psnr, 50.0);
    EXPECT_LE(worst, 3);
}

// A part of the show: what is written is what the whole render writes at
// the same indices.
TEST_F(RenderCli, FromWritesTheSameTailAsTheWholeRender) {
    const std::string outputs[] = {"a.wav", "a.log", "a.crc", "frames"};
    const auto args = [&](const std::string& folder) {
        fs::create_directories(dir / folder);
        const fs::path at = dir / folder;
        return " --fps 20 --every 3 --wav " + (at / outputs[0]).string() + " --log " +
               (at / outputs[1]).string() + " --crc " + (at / outputs[2]).string() + " --frames " +
               (at / outputs[3]).string();
    };
    RenderRun run = render("--seconds 37" + args("whole"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = render("--from 35.02 --seconds 37" + args("part"));  // from frame 701
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string whole = readFile(dir / "whole" / "a.wav");
    const std::string part = readFile(dir / "part" / "a.wav");
    const size_t skipped = size_t{701} * 22050 / 20 * 4;
    ASSERT_EQ(part.size(), whole.size() - skipped);
    EXPECT_EQ(part.substr(44), whole.substr(44 + skipped));
    // The header tells the shorter length: RIFF size and data size.
    const auto field = [&](size_t at) {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | static_cast<uint8_t>(part[at + static_cast<size_t>(i)]);
        return value;
    };
    EXPECT_EQ(field(4), part.size() - 8);
    EXPECT_EQ(field(40), part.size() - 44);

    const auto lines = [&](const std::string& folder, const std::string& name) {
        std::ifstream in(dir / folder / name);
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    };
    const auto wholeLog = lines("whole", "a.log");
    const auto partLog = lines("part", "a.log");
    ASSERT_EQ(partLog.size(), 1u + 740 - 701);
    EXPECT_EQ(partLog[0], wholeLog[0]);
    EXPECT_TRUE(std::equal(partLog.begin() + 1, partLog.end(), wholeLog.begin() + 1 + 701));
    EXPECT_EQ(partLog[1].substr(0, 10), "701 35050 ");

    // Kept frames are those whose index is a multiple of 3, from 702 on.
    const auto wholeCrc = lines("whole", "a.crc");
    const auto partCrc = lines("part", "a.crc");
    ASSERT_EQ(partCrc.size(), 13u);
    EXPECT_EQ(partCrc.front().substr(0, 4), "702 ");
    EXPECT_TRUE(std::equal(partCrc.begin(), partCrc.end(), wholeCrc.end() - 13));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(dir / "part" / "frames"), fs::directory_iterator()),
        13);
    for (const char* name : {"frame-000702.png", "frame-000720.png", "frame-000738.png"}) {
        EXPECT_EQ(readFile(dir / "part" / "frames" / name),
                  readFile(dir / "whole" / "frames" / name))
            << name;
    }
}

// At 44100 Hz the WAV is the 22050 Hz stream through the project's upsampler
// from its start, lag included; a part of the show is the same tail.
TEST_F(RenderCli, WavAt44100IsTheStreamThroughTheUpsampler) {
    ASSERT_EQ(render("--seconds 3 --wav " + (dir / "a.wav").string()).status, 0);
    RenderRun run = render("--seconds 3 --wav-rate 44100 --wav " + (dir / "b.wav").string());
    ASSERT_EQ(run.status, 0) << run.err;
    run = render("--from 1.5 --seconds 3 --wav-rate 44100 --wav " + (dir / "c.wav").string());
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string stream = readFile(dir / "a.wav");
    const std::string doubled = readFile(dir / "b.wav");
    const size_t frames = (stream.size() - 44) / 4;
    ASSERT_EQ(frames, 3u * 22050);
    ASSERT_EQ(doubled.size(), 44 + 2 * frames * 4);
    const auto field = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, doubled.data() + at, 4);  // little-endian, as the test machine
        return value;
    };
    EXPECT_EQ(field(24), 44100u);
    EXPECT_EQ(field(28), 44100u * 4);
    EXPECT_EQ(field(40), 2 * frames * 4);

    std::vector<int16_t> in(2 * frames);
    std::memcpy(in.data(), stream.data() + 44, in.size() * 2);
    std::vector<int16_t> out(2 * in.size());
    Upsampler upsampler;
    resetUpsampler(upsampler);
    upsampleStereo(upsampler, in.data(), static_cast<int32_t>(frames), out.data());
    EXPECT_EQ(std::memcmp(out.data(), doubled.data() + 44, out.size() * 2), 0);

    // From frame 90 at 60 fps: stream frame 33075, output frame 66150.
    const std::string tail = readFile(dir / "c.wav");
    EXPECT_EQ(tail.substr(44), doubled.substr(44 + 66150 * 4));

    for (const char* rate : {"48000", "30000", "x"}) {
        run = render(std::string("--seconds 1 --wav-rate ") + rate + " --wav " +
                     (dir / "d.wav").string());
        EXPECT_EQ(run.status, 2) << rate;
        EXPECT_NE(run.err.find("--wav-rate: " + std::string(rate) + " not in {22050,44100}"),
                  std::string::npos)
            << run.err;
        EXPECT_FALSE(fs::exists(dir / "d.wav"));
    }
}

// What the native players hand their 44100 Hz device (platform/audio_feed,
// as SDL's callback and the waveOut thread call it) is the renderer's 44100 Hz
// WAV sample for sample from the stream's start: both start the upsampler
// cleared with the stream, so its lag lines up.
TEST_F(RenderCli, PlayersDeviceFeedIsThe44100WavFromTheStreamStart) {
    RenderRun run = render("--seconds 3 --wav-rate 44100 --wav " + (dir / "b.wav").string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string wav = readFile(dir / "b.wav");
    const size_t frames = (wav.size() - 44) / 4;
    ASSERT_EQ(frames, 2u * 3 * 22050);

    resetSynthesiser();
    auto feed = std::make_unique<AudioFeed>();
    resetAudioFeed(*feed);
    std::vector<int16_t> played(2 * frames);
    // In the SDL device's pieces of 1024 frames, the last one short.
    for (size_t done = 0; done < frames; done += 1024) {
        feedAudio(*feed, played.data() + 2 * done,
                  static_cast<int32_t>(std::min<size_t>(1024, frames - done)));
    }
    EXPECT_EQ(std::memcmp(played.data(), wav.data() + 44, played.size() * 2), 0);
}

// The flash report: the credits hold still, the last scene (from 55 s)
// flickers at the frame rate, 5 flashes a second at 10 fps (every frame from
// the start is analysed, so a low rate keeps this cheap under the
// sanitizers). A report that cannot be written leaves nothing behind.
TEST_F(RenderCli, FlashReport) {
    const fs::path report = dir / "flashes.txt";
    RenderRun run = render("--fps 10 --from 13 --seconds 15 --flash-report " + report.string());
    ASSERT_EQ(run.status, 0) << run.err;
    std::string text = readFile(report);
    EXPECT_NE(text.find("\n13 0 0 pass\n14 0 0 pass\n# 0 of 2 seconds fail"), std::string::npos)
        << text;
    run = render("--fps 10 --from 56 --seconds 58 --force --flash-report " + report.string());
    ASSERT_EQ(run.status, 0) << run.err;
    text = readFile(report);
    EXPECT_NE(text.find("\n56 5 0 fail\n57 5 0 fail\n# 2 of 2 seconds fail"), std::string::npos)
        << text;

    run = render("--seconds 1 --flash-report " + (dir / "missing" / "f.txt").string() + " --log " +
                 (dir / "a.log").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("missing/f.txt"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "a.log"));
    EXPECT_EQ(partialFilesUnder(dir), std::vector<std::string>{});
}

// The archival master gives back every pixel of the frames and every sample
// of the synthesiser.
TEST_F(RenderCli, LosslessVideoKeepsEveryPixelAndSample) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const fs::path video = dir / "master.mkv";
    const fs::path wav = dir / "a.wav";
    const fs::path frames = dir / "frames";
    RenderRun run = render("--seconds 7 --fps 4 --lossless --video " + video.string() + " --wav " +
                           wav.string() + " --frames " + frames.string());
    ASSERT_EQ(run.status, 0) << run.err;

    const fs::path pixels = dir / "pixels.raw";
    const fs::path samples = dir / "samples.raw";
    const std::string decode = "ffmpeg -v error -i " + video.string() +
                               " -f rawvideo -pix_fmt bgr0 " + pixels.string() +
                               " -f s16le -c:a pcm_s16le " + samples.string();
    ASSERT_EQ(std::system(decode.c_str()), 0);
    const std::string decoded = readFile(pixels);
    ASSERT_EQ(decoded.size(), 28u * kScreenPixels * 4);
    // Frame 27 is the credits at 6.75 s; its PNG holds the same pixels.
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<Pixel> expected = readPng(frames / "frame-000027.png", &width, &height);
    ASSERT_EQ(expected.size(), static_cast<size_t>(kScreenPixels));
    const auto* got = reinterpret_cast<const uint32_t*>(decoded.data()) + 27 * kScreenPixels;
    for (int i = 0; i < kScreenPixels; ++i)
        ASSERT_EQ(got[i] & 0xFFFFFF, expected[i] & 0xFFFFFF) << i;
    const std::string audio = readFile(wav);
    EXPECT_EQ(readFile(samples), audio.substr(44));

    for (const char* args :
         {"--lossless --video a.mp4", "--lossless --wav a.wav", "--lossless --crf 10 --video a.mkv",
          "--preset quick --video a.mp4", "--preset Medium --video a.mp4", "--crf 52 --video a.mp4",
          "--crf +5 --video a.mp4", "--fps 0x10 --wav a.wav", "--chroma 422 --video a.mp4",
          "--chroma 444 --wav a.wav", "--chroma 444 --lossless --video a.mkv",
          "--chroma 444 --video a.webm", "--chroma --video a.mp4",
          "--reduce-flashes --wav a.wav"}) {
        run = render(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << args;
    }
}

}  // namespace
