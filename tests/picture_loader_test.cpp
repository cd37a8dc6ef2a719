#include "pictures/picture_loader.h"
#include "pictures/show_pictures.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// Test JPEGs are made here with the library's compression side; every decode
// is checked against the library's own reference decoder, djpeg.
namespace {

constexpr Pixel kUntouched = 0x5A5A5A5Au;  // never produced by the loader (top byte 0x5A)
constexpr size_t kGuard = 64;              // extra elements past the capacity

struct Rgb {
    uint8_t r, g, b;
};

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "picture_loader_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Writes a baseline JPEG. components 3 gives YCbCr, 1 greyscale, 4 CMYK (or
// YCCK with ycck set). sample(x, y, c) gives each input sample; configure,
// when given, changes the settings last (sampling, progression).
void writeJpeg(const std::string& path, int width, int height, int components,
               const std::function<uint8_t(int, int, int)>& sample, bool ycck = false,
               const std::function<void(jpeg_compress_struct&)>& configure = {}) {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : components == 1 ? JCS_GRAYSCALE : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    if (ycck) {
        jpeg_set_colorspace(&cinfo, JCS_YCCK);
    }
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (configure) {
        configure(cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                row[static_cast<size_t>(x) * components + c] = sample(x, y, c);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
}

// A busy colour picture: gradients, a checkerboard and hard edges.
uint8_t colourful(int x, int y, int c) {
    switch (c) {
        case 0:
            return static_cast<uint8_t>(x * 255 / 639);
        case 1:
            return static_cast<uint8_t>(((x / 8 + y / 8) % 2) * 200 + y % 50);
        default:
            return static_cast<uint8_t>((x * y) % 256);
    }
}

// The reference decode, by djpeg forced to RGB output.
std::vector<Rgb> referenceDecode(const std::string& jpeg, int* width, int* height) {
    const std::string ppm = jpeg + ".ppm";
    const std::string command =
        std::string(DJPEG_PROGRAM) + " -rgb -pnm -outfile '" + ppm + "' '" + jpeg + "' 2>/dev/null";
    // Status 2 means it decoded with warnings.
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 2))
        << command;
    const std::vector<uint8_t> bytes = readBytes(ppm);
    std::remove(ppm.c_str());
    // "P6\n<w> <h>\n255\n" then the samples.
    int maxValue = 0;
    int consumed = 0;
    if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d %d%n", width, height,
                    &maxValue, &consumed) != 3 ||
        maxValue != 255) {
        ADD_FAILURE() << "djpeg gave no PPM for " << jpeg;
        return {};
    }
    const size_t start = static_cast<size_t>(consumed) + 1;
    const size_t count = static_cast<size_t>(*width) * static_cast<size_t>(*height);
    std::vector<Rgb> pixels(count);
    EXPECT_EQ(bytes.size(), start + count * 3);
    for (size_t i = 0; i < count && start + i * 3 + 2 < bytes.size(); ++i) {
        pixels[i] = {bytes[start + i * 3], bytes[start + i * 3 + 1], bytes[start + i * 3 + 2]};
    }
    return pixels;
}

struct Loaded {
    std::vector<Pixel> pixels;  // capacity + kGuard elements
    std::string errors;         // what went to standard error
};

Loaded load(const std::string& path, size_t capacity) {
    Loaded result;
    result.pixels.assign(capacity + kGuard, kUntouched);
    ::testing::internal::CaptureStderr();
    loadPicture(path.c_str(), result.pixels.data(), capacity);
    result.errors = ::testing::internal::GetCapturedStderr();
    return result;
}

// Every pixel the reference decoder gives is in place, 0xFFRRGGBB, packed
// with the file's own width; every element after them is untouched.
void expectMatchesReference(const Loaded& loaded, const std::string& jpeg, int expectedWidth,
                            int expectedHeight) {
    int width = 0;
    int height = 0;
    const std::vector<Rgb> reference = referenceDecode(jpeg, &width, &height);
    ASSERT_EQ(width, expectedWidth);
    ASSERT_EQ(height, expectedHeight);
    size_t mismatches = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const Pixel expected = 0xFF000000u | uint32_t{reference[i].r} << 16 |
                               uint32_t{reference[i].g} << 8 | reference[i].b;
        if (loaded.pixels[i] != expected && ++mismatches <= 3) {
            ADD_FAILURE() << "pixel " << i << ": " << std::hex << loaded.pixels[i] << " expected "
                          << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    for (size_t i = reference.size(); i < loaded.pixels.size(); ++i) {
        ASSERT_EQ(loaded.pixels[i], kUntouched) << "element " << i << " was written";
    }
}

void expectUntouched(const Loaded& loaded) {
    for (size_t i = 0; i < loaded.pixels.size(); ++i) {
        ASSERT_EQ(loaded.pixels[i], kUntouched) << "element " << i << " was written";
    }
}

void* failingAllocator(size_t) {
    return nullptr;
}

class PictureLoaderTest : public ::testing::Test {
  protected:
    void TearDown() override {
        setDecodedBufferAllocator(nullptr);
        for (const std::string& path : made) {
            std::remove(path.c_str());
        }
    }
    std::string make(const std::string& name) {
        made.push_back(tempPath(name));
        return made.back();
    }
    std::vector<std::string> made;
};

TEST_F(PictureLoaderTest, FullScreenPictureFillsExactly307200PixelsAsTheReferenceDecodes) {
    const std::string path = make("full.jpg");
    writeJpeg(path, 640, 480, 3, colourful);
    const Loaded loaded = load(path, Picture::pixels);
    EXPECT_EQ(loaded.errors, "");
    expectMatchesReference(loaded, path, 640, 480);
    // 0xFFRRGGBB is the bytes blue, green, red, 0xFF in memory.
    int width = 0;
    int height = 0;
    const Rgb first = referenceDecode(path, &width, &height)[0];
    uint8_t bytes[4];
    std::memcpy(bytes, loaded.pixels.data(), 4);
    EXPECT_EQ(bytes[0], first.b);
    EXPECT_EQ(bytes[1], first.g);
    EXPECT_EQ(bytes[2], first.r);
    EXPECT_EQ(bytes[3], 0xFF);
}

TEST_F(PictureLoaderTest, StripFillsExactly267295Pixels) {
    const std::string path = make("strip.jpg");
    writeJpeg(path, GreetingsStrip::width, GreetingsStrip::height, 3,
              [](int x, int y, int c) { return colourful(x % 640, y, c); });
    const Loaded loaded = load(path, GreetingsStrip::pixels);
    EXPECT_EQ(loaded.errors, "");
    expectMatchesReference(loaded, path, GreetingsStrip::width, GreetingsStrip::height);
}

TEST_F(PictureLoaderTest, SmallerPictureIsPackedWithItsOwnWidthAndLeavesTheRestAlone) {
    const std::string path = make("small.jpg");
    writeJpeg(path, 320, 240, 3, colourful);
    const Loaded loaded = load(path, Picture::pixels);
    EXPECT_EQ(loaded.errors, "");
    // Two rows of the file per destination row, 76,800 pixels, then untouched.
    expectMatchesReference(loaded, path, 320, 240);
    EXPECT_NE(loaded.pixels[76'799], kUntouched);
    EXPECT_EQ(loaded.pixels[76'800], kUntouched);
}

TEST_F(PictureLoaderTest, GreyscaleFileIsTurnedIntoRgb) {
    const std::string path = make("grey.jpg");
    writeJpeg(path, 200, 100, 1, [](int x, int y, int) { return static_cast<uint8_t>(x + y); });
    const Loaded loaded = load(path, Picture::pixels);
    EXPECT_EQ(loaded.errors, "");
    expectMatchesReference(loaded, path, 200, 100);
    const Pixel p = loaded.pixels[150];
    EXPECT_EQ(p >> 16 & 0xFF, p & 0xFF);
    EXPECT_EQ(p >> 8 & 0xFF, p & 0xFF);
}

TEST_F(PictureLoaderTest, FileCutShortWarnsOnceAndIsStillConverted) {
    const std::string whole = make("whole.jpg");
    const std::string cut = make("cut.jpg");
    writeJpeg(whole, 640, 480, 3, colourful);
    std::vector<uint8_t> bytes = readBytes(whole);
    bytes.resize(bytes.size() / 2);
    writeBytes(cut, bytes);
    const Loaded loaded = load(cut, Picture::pixels);
    EXPECT_EQ(loaded.errors, "Premature end of JPEG file\n");
    expectMatchesReference(loaded, cut, 640, 480);
}

// A small file whose frame header claims side x side pixels.
void writeDeclaringHugeSize(const std::string& path, int side) {
    writeJpeg(path, 64, 64, 3, colourful);
    std::vector<uint8_t> bytes = readBytes(path);
    for (size_t k = 0; k + 8 < bytes.size(); ++k) {
        if (bytes[k] == 0xFF && bytes[k + 1] == 0xC0) {  // start of frame, baseline
            for (size_t field = k + 5; field < k + 9; field += 2) {
                bytes[field] = static_cast<uint8_t>(side >> 8);  // height, then width
                bytes[field + 1] = static_cast<uint8_t>(side);
            }
            break;
        }
    }
    writeBytes(path, bytes);
}

struct Refusal {
    const char* name;
    std::function<void(const std::string&)> makeFile;
    size_t capacity;
    const char* line;
};

TEST_F(PictureLoaderTest, RefusedFilesLeaveOneLineAndTheDestinationUntouched) {
    const Refusal refusals[] = {
        {"text.jpg",
         [](const std::string& p) {
             writeBytes(p, {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
         },
         Picture::pixels, "Not a JPEG file: starts with 0x48 0x65\n"},
        {"empty.jpg", [](const std::string& p) { writeBytes(p, {}); }, Picture::pixels,
         "Empty input file\n"},
        {"header-only.jpg",
         [](const std::string& p) {
             writeJpeg(p, 64, 64, 3, colourful);
             std::vector<uint8_t> bytes = readBytes(p);
             bytes.resize(2);  // the start-of-image marker and nothing else
             writeBytes(p, bytes);
         },
         Picture::pixels, "Premature end of JPEG file\nJPEG datastream contains no image\n"},
        {"too-big.jpg", [](const std::string& p) { writeJpeg(p, 640, 480, 3, colourful); },
         Picture::pixels - 1,
         "Picture of 640 x 480 pixels does not fit its buffer of 307199 pixels\n"},
        {"too-wide.jpg", [](const std::string& p) { writeJpeg(p, 641, 2, 3, colourful); },
         641 * 2 - 1, "Picture of 641 x 2 pixels does not fit its buffer of 1281 pixels\n"},
        {"hostile.jpg", [](const std::string& p) { writeDeclaringHugeSize(p, 65500); },
         Picture::pixels,
         "Picture of 65500 x 65500 pixels does not fit its buffer of 307200 pixels\n"},
        {"beyond-the-library.jpg", [](const std::string& p) { writeDeclaringHugeSize(p, 65535); },
         Picture::pixels, "Maximum supported image dimension is 65500 pixels\n"},
        {"cmyk.jpg",
         [](const std::string& p) {
             writeJpeg(p, 32, 32, 4, [](int x, int, int c) { return static_cast<uint8_t>(x * c); });
         },
         Picture::pixels, "Cannot decode a CMYK JPEG file to RGB\n"},
        {"ycck.jpg",
         [](const std::string& p) {
             writeJpeg(
                 p, 32, 32, 4, [](int x, int, int c) { return static_cast<uint8_t>(x * c); }, true);
         },
         Picture::pixels, "Cannot decode a YCCK JPEG file to RGB\n"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        const std::string path = make(refusal.name);
        refusal.makeFile(path);
        const Loaded loaded = load(path, refusal.capacity);
        EXPECT_EQ(loaded.errors, refusal.line);
        expectUntouched(loaded);
    }
}

// A progressive colour JPEG at full chroma resolution, either the library's
// usual 10 scans or one scan per coefficient and component (190 scans).
void writeProgressiveJpeg(const std::string& path, int width, int height, bool scanPerCoefficient) {
    std::vector<jpeg_scan_info> script;  // read by the library until the file is written
    if (scanPerCoefficient) {
        script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
        for (int c = 0; c < 3; ++c) {
            for (int k = 1; k < DCTSIZE2; ++k)
                script.push_back({1, {c, 0, 0, 0}, k, k, 0, 0});
        }
    }
    writeJpeg(
        path, width, height, 3, [](int x, int y, int c) { return colourful(x % 640, y, c); }, false,
        [&](jpeg_compress_struct& cinfo) {
            for (int c = 0; c < 3; ++c) {
                cinfo.comp_info[c].h_samp_factor = 1;
                cinfo.comp_info[c].v_samp_factor = 1;
            }
            jpeg_simple_progression(&cinfo);
            if (!script.empty()) {
                cinfo.scan_info = script.data();
                cinfo.num_scans = static_cast<int>(script.size());
            }
        });
}

TEST_F(PictureLoaderTest, ProgressiveFilesLoadUpToTheScanLimitAndNoFurther) {
    const std::string usual = make("progressive.jpg");
    writeProgressiveJpeg(usual, 640, 480, false);
    const Loaded loaded = load(usual, Picture::pixels);
    EXPECT_EQ(loaded.errors, "");
    expectMatchesReference(loaded, usual, 640, 480);

    // Legal, and the reference decoder takes it, but every scan is another
    // pass over the whole picture: refused when the limit is passed.
    const std::string many = make("many-scans.jpg");
    writeProgressiveJpeg(many, 64, 48, true);
    const Loaded refused = load(many, Picture::pixels);
    EXPECT_EQ(refused.errors, "Picture of more than 100 scans refused\n");
    expectUntouched(refused);
}

TEST_F(PictureLoaderTest, DecoderMemoryBeyondTheLimitIsRefusedBeforeItIsTaken) {
    // 3400 x 3400 pixels of three full-resolution components keep 69 MB of
    // coefficients while the scans come in; the buffer here would take it.
    const std::string path = make("huge-progressive.jpg");
    writeProgressiveJpeg(path, 3400, 3400, false);
    std::vector<Pixel> pixels(size_t{3400} * 3400);
    ::testing::internal::CaptureStderr();
    loadPicture(path.c_str(), pixels.data(), pixels.size());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Backing store not supported\n");
    // The same file within the limit: a quarter of its height.
    const std::string smaller = make("smaller-progressive.jpg");
    writeProgressiveJpeg(smaller, 3400, 850, false);
    ::testing::internal::CaptureStderr();
    loadPicture(smaller.c_str(), pixels.data(), pixels.size());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(PictureLoaderTest, FailedAllocationOfTheDecodedBufferIsRefusedLikeALibraryError) {
    const std::string path = make("no-memory.jpg");
    writeJpeg(path, 640, 480, 3, colourful);
    setDecodedBufferAllocator(failingAllocator);
    const Loaded loaded = load(path, Picture::pixels);
    EXPECT_EQ(loaded.errors, "Insufficient memory for a picture of 640 x 480 pixels\n");
    expectUntouched(loaded);
}

// A stream over bytes in memory that counts how often it is closed.
struct CountedStream {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    int closes = 0;
};

ssize_t readCounted(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<CountedStream*>(cookie);
    const size_t n = std::min(size, stream->bytes.size() - stream->position);
    if (n > 0) {  // an empty vector's data() may be null
        std::memcpy(buffer, stream->bytes.data() + stream->position, n);
    }
    stream->position += n;
    return static_cast<ssize_t>(n);
}

int closeCounted(void* cookie) {
    ++static_cast<CountedStream*>(cookie)->closes;
    return 0;
}

FILE* openCounted(CountedStream* stream) {
    return fopencookie(stream, "rb", {readCounted, nullptr, nullptr, closeCounted});
}

// No decoded pixel has a top byte other than 0xFF.
constexpr Pixel kSentinel = 0x12345678;

TEST_F(PictureLoaderTest, EveryStreamIsClosedExactlyOnceAndPixelsAreWrittenOnlyOnSuccess) {
    const std::string good = make("good.jpg");
    const std::string cmyk = make("closing-cmyk.jpg");
    const std::string hostile = make("closing-hostile.jpg");
    writeJpeg(good, 64, 48, 3, colourful);
    writeJpeg(cmyk, 16, 16, 4, [](int x, int, int) { return static_cast<uint8_t>(x); });
    writeDeclaringHugeSize(hostile, 65500);
    std::vector<uint8_t> cut = readBytes(good);
    cut.resize(cut.size() * 2 / 3);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool failAllocation;
        bool decodes;
    };
    const Case cases[] = {
        {"good", readBytes(good), false, true},       {"cut short", cut, false, true},
        {"text", {'n', 'o', 'p', 'e'}, false, false}, {"empty", {}, false, false},
        {"cmyk", readBytes(cmyk), false, false},      {"hostile", readBytes(hostile), false, false},
        {"no memory", readBytes(good), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setDecodedBufferAllocator(c.failAllocation ? failingAllocator : nullptr);
        CountedStream stream{c.bytes};
        FILE* file = openCounted(&stream);
        ASSERT_NE(file, nullptr);
        std::vector<Pixel> pixels(Picture::pixels, kSentinel);
        ::testing::internal::CaptureStderr();
        const bool decoded = loadPictureStream(file, pixels.data(), pixels.size());
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(stream.closes, 1);
        EXPECT_EQ(decoded, c.decodes);
        // A decode writes exactly its 64 x 48 pixels; a failure writes none.
        const auto written = std::find(pixels.begin(), pixels.end(), kSentinel) - pixels.begin();
        EXPECT_EQ(written, c.decodes ? 64 * 48 : 0);
        EXPECT_TRUE(std::all_of(pixels.begin() + written, pixels.end(),
                                [](Pixel p) { return p == kSentinel; }));
    }
}

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

TEST_F(PictureLoaderTest, LoadingLeavesNoFileOpenWhateverHappens) {
    const std::string good = make("fd-good.jpg");
    const std::string text = make("fd-text.jpg");
    const std::string empty = make("fd-empty.jpg");
    writeJpeg(good, 64, 48, 3, colourful);
    writeBytes(text, {'t', 'e', 'x', 't'});
    writeBytes(empty, {});
    const int before = openDescriptors();
    for (const std::string& path : {good, text, empty}) {
        load(path, Picture::pixels);
        load(path, 10);  // too small for the good file
    }
    EXPECT_EQ(openDescriptors(), before);
}

// Loads the six files in order from dir, as the start-up does.
void loadAllFrom(const std::string& dir) {
    if (chdir(dir.c_str()) != 0) {
        std::exit(99);
    }
    static std::vector<Pixel> buffer(Picture::pixels);
    for (const char* name : kPictureFiles) {
        if (!loadPicture(name, buffer.data(), buffer.size()))
            std::exit(1);
    }
    std::exit(loadPicture(kStripFile, buffer.data(), buffer.size()) ? 0 : 1);
}

void recordingMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "box[%s|%s]\n", text, caption);
}

TEST(PictureLoaderDeathTest, MissingFileIsReportedAndStopsTheLoading) {
    const std::string dir = tempPath("only-warning");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    writeJpeg(dir + "/warning.jpg", 640, 480, 3, colourful);
    // The first file loads, the second is missing: nothing after it is opened.
    EXPECT_EXIT(loadAllFrom(dir), ::testing::ExitedWithCode(1),
                "^credits\\.jpg: ERROR LOCATING\\.\\.\\.\n$");
    EXPECT_EXIT(
        {
            setMessageBoxHook(recordingMessageBox);
            loadAllFrom(dir);
        },
        ::testing::ExitedWithCode(1), "^box\\[ERROR LOCATING\\.\\.\\.\\|credits\\.jpg\\]\n$");
    std::remove((dir + "/warning.jpg").c_str());
    rmdir(dir.c_str());
}

// A path that is not a regular file is one that cannot be opened, with a line
// saying what it is; nothing waits on it (a FIFO with no writer).
TEST(PictureLoaderDeathTest, PathsThatAreNotRegularFilesAreReportedAsMissing) {
    const std::string dir = tempPath("special");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + "/warning.jpg").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((dir + "/credits.jpg").c_str(), 0600), 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir + "/part1.jpg";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"warning.jpg",
         "^warning\\.jpg: is a folder, not a regular file\n"
         "warning\\.jpg: ERROR LOCATING\\.\\.\\.\n$"},
        {"credits.jpg",
         "^credits\\.jpg: is a FIFO, not a regular file\n"
         "credits\\.jpg: ERROR LOCATING\\.\\.\\.\n$"},
        {"part1.jpg",
         "^part1\\.jpg: is a socket, not a regular file\n"
         "part1\\.jpg: ERROR LOCATING\\.\\.\\.\n$"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                if (chdir(dir.c_str()) != 0)
                    std::exit(99);
                static std::vector<Pixel> buffer(Picture::pixels);
                std::exit(loadPicture(c.name, buffer.data(), buffer.size()) ? 0 : 1);
            },
            ::testing::ExitedWithCode(1), c.expected);
    }
    close(listener);
    std::remove(socketPath.c_str());
    std::remove((dir + "/credits.jpg").c_str());
    rmdir((dir + "/warning.jpg").c_str());
    rmdir(dir.c_str());
}

// The demo's own pictures: exact sizes, baseline, three components, and a
// decode that fills their buffers exactly.
TEST(DemoPictures, HaveTheirExactLayout) {
    struct Expected {
        const char* name;
        int width;
        int height;
    };
    std::vector<Expected> files;
    for (const char* name : kPictureFiles) {
        files.push_back({name, Picture::width, Picture::height});
    }
    files.push_back({kStripFile, GreetingsStrip::width, GreetingsStrip::height});
    for (const Expected& file : files) {
        SCOPED_TRACE(file.name);
        const std::string path = std::string(QUELTRAVINE_DATA_DIR) + "/" + file.name;
        FILE* in = std::fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, in);
        jpeg_read_header(&cinfo, TRUE);
        EXPECT_EQ(cinfo.image_width, static_cast<JDIMENSION>(file.width));
        EXPECT_EQ(cinfo.image_height, static_cast<JDIMENSION>(file.height));
        EXPECT_EQ(cinfo.num_components, 3);
        EXPECT_EQ(cinfo.jpeg_color_space, JCS_YCbCr);
        EXPECT_FALSE(cinfo.progressive_mode);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(in);

        const Loaded loaded = load(path, static_cast<size_t>(file.width) * file.height);
        EXPECT_EQ(loaded.errors, "");
        expectMatchesReference(loaded, path, file.width, file.height);
    }
}

}  // namespace
