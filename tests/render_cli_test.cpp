// The offline renderer as a user runs it: a real process, real files.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pictures/picture_loader.h"
#include "render/schedule.h"
#include "synth/synthesiser.h"

namespace fs = std::filesystem;

namespace {

struct RenderRun {
    int status = -1;
    std::string err;
    std::string out;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class RenderCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::path(::testing::TempDir()) /
              ("render-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

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

    fs::path dir;
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
    synthState = {};
    synthRandom = {};
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
    synthState = {};
    synthRandom = {};
    stepResidueA = 0;
    stepResidueB = 0;
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
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(
        png_image_begin_read_from_file(&image, (dir / "frames" / "frame-000000.png").c_str()));
    image.format = PNG_FORMAT_BGRA;
    std::vector<Pixel> shown(PNG_IMAGE_SIZE(image) / 4);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, shown.data(), 0, nullptr));
    ASSERT_EQ(shown.size(), warning.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i], warning[i]) << i;  // PNG alpha reads back as 0xFF
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
          "--every 0 --frames f", "--scale 0 --video v.mp4"}) {
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

TEST_F(RenderCli, EncodesVideoWithFfmpeg) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") !=
        0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const fs::path video = dir / "demo.mp4";
    const RenderRun run = render("--seconds 2 --fps 10 --scale 2 --video " + video.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path probe = dir / "probe.txt";
    const std::string command =
        "ffprobe -v error -show_entries stream=codec_name,width,height "
        "-of compact " +
        video.string() + " >" + probe.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string streams = readFile(probe);
    EXPECT_NE(streams.find("codec_name=h264|width=1280|height=960"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=aac"), std::string::npos) << streams;
    EXPECT_FALSE(fs::exists(dir / "demo.partial.mp4"));
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
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, (frames / "frame-000027.png").c_str()));
    image.format = PNG_FORMAT_BGRA;
    std::vector<Pixel> expected(kScreenPixels);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, expected.data(), 0, nullptr));
    const auto* got = reinterpret_cast<const uint32_t*>(decoded.data()) + 27 * kScreenPixels;
    for (int i = 0; i < kScreenPixels; ++i)
        ASSERT_EQ(got[i] & 0xFFFFFF, expected[i] & 0xFFFFFF) << i;
    const std::string audio = readFile(wav);
    EXPECT_EQ(readFile(samples), audio.substr(44));

    for (const char* args :
         {"--lossless --video a.mp4", "--lossless --wav a.wav", "--lossless --crf 10 --video a.mkv",
          "--preset quick --video a.mp4", "--crf 52 --video a.mp4"}) {
        run = render(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << args;
    }
}

}  // namespace
