// Writes the picture fuzzer's seed corpus into a folder: small files of each
// kind of JPEG the library reads (baseline, progressive, greyscale, CMYK,
// YCCK, subsampled, with restart markers, arithmetic-coded), the same cut
// short, and files of the demo's exact sizes. Pixels come from a fixed
// pattern, so the corpus is the same on every run.
//
// Usage: make_seed_corpus OUTPUT_DIR
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/demo_types.h"

namespace {

struct Seed {
    const char* name;
    int width;
    int height;
    J_COLOR_SPACE input;  // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    J_COLOR_SPACE stored;
    bool progressive = false;
    bool arithmetic = false;
    int restartRows = 0;
    int hSample = 1;  // of the first component; the others stay at 1
    int vSample = 1;
    int quality = 75;
    bool oneScanPerCoefficient = false;  // 190 scans: beyond the loader's limit
};

// The DC of the three components, then every AC coefficient of every
// component in a scan of its own.
std::vector<jpeg_scan_info> scanPerCoefficient() {
    std::vector<jpeg_scan_info> script;
    script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
    for (int c = 0; c < 3; ++c) {
        for (int k = 1; k < DCTSIZE2; ++k)
            script.push_back({1, {c, 0, 0, 0}, k, k, 0, 0});
    }
    return script;
}

std::vector<unsigned char> encode(const Seed& seed) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &bytes, &size);
    const int components = seed.input == JCS_GRAYSCALE ? 1 : seed.input == JCS_CMYK ? 4 : 3;
    cinfo.image_width = static_cast<JDIMENSION>(seed.width);
    cinfo.image_height = static_cast<JDIMENSION>(seed.height);
    cinfo.input_components = components;
    cinfo.in_color_space = seed.input;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, seed.stored);
    jpeg_set_quality(&cinfo, seed.quality, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = c == 0 ? seed.hSample : 1;
        cinfo.comp_info[c].v_samp_factor = c == 0 ? seed.vSample : 1;
    }
    cinfo.arith_code = seed.arithmetic ? TRUE : FALSE;
    cinfo.restart_in_rows = seed.restartRows;
    if (seed.progressive)
        jpeg_simple_progression(&cinfo);
    static const std::vector<jpeg_scan_info> script = scanPerCoefficient();
    if (seed.oneScanPerCoefficient) {
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(seed.width) * components);
    for (int y = 0; y < seed.height; ++y) {
        for (int x = 0; x < seed.width; ++x) {
            for (int c = 0; c < components; ++c) {
                row[static_cast<size_t>(x) * components + c] =
                    static_cast<JSAMPLE>((x * (3 + c) + y * (5 - c) + ((x ^ y) & 16) * 4) & 255);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> out(bytes, bytes + size);
    std::free(bytes);
    return out;
}

void write(const std::string& path, const std::vector<unsigned char>& bytes, size_t count) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, count, file) != count ||
        std::fclose(file) != 0) {
        std::fprintf(stderr, "make_seed_corpus: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const Seed seeds[] = {
        {"baseline", 24, 16, JCS_RGB, JCS_YCbCr},
        {"baseline-rgb", 17, 9, JCS_RGB, JCS_RGB},
        {"progressive", 24, 16, JCS_RGB, JCS_YCbCr, true},
        {"greyscale", 16, 16, JCS_GRAYSCALE, JCS_GRAYSCALE},
        {"greyscale-progressive", 13, 11, JCS_GRAYSCALE, JCS_GRAYSCALE, true},
        {"cmyk", 16, 8, JCS_CMYK, JCS_CMYK},
        {"ycck", 16, 8, JCS_CMYK, JCS_YCCK},
        {"subsampled-420", 33, 17, JCS_RGB, JCS_YCbCr, false, false, 0, 2, 2},
        {"subsampled-422", 32, 16, JCS_RGB, JCS_YCbCr, false, false, 0, 2, 1},
        {"subsampled-411-progressive", 40, 8, JCS_RGB, JCS_YCbCr, true, false, 0, 4, 1},
        {"restart-markers", 32, 32, JCS_RGB, JCS_YCbCr, false, false, 1},
        {"arithmetic", 24, 16, JCS_RGB, JCS_YCbCr, false, true},
        {"arithmetic-progressive", 24, 16, JCS_RGB, JCS_YCbCr, true, true},
        {"many-scans", 16, 16, JCS_RGB, JCS_YCbCr, false, false, 0, 1, 1, 75, true},
        {"picture-size", kScreenWidth, kScreenHeight, JCS_RGB, JCS_YCbCr, false, false, 0, 1, 1,
         10},
        {"strip-size", GreetingsStrip::width, GreetingsStrip::height, JCS_RGB, JCS_YCbCr, true,
         false, 0, 1, 1, 10},
    };
    for (const Seed& seed : seeds) {
        const std::vector<unsigned char> bytes = encode(seed);
        write(dir + "/" + seed.name + ".jpg", bytes, bytes.size());
        // Cut short: in the headers, and half-way through the image data.
        if (bytes.size() > 64 && seed.width < 100) {
            write(dir + "/" + seed.name + "-cut-header.jpg", bytes, 120 < bytes.size() ? 120 : 64);
            write(dir + "/" + seed.name + "-cut-data.jpg", bytes, bytes.size() / 2 + 3);
        }
    }
    return 0;
}
