// Start-up cost of the pictures: all six files decoded and converted, in
// load order, from data/.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pictures/picture_loader.h"
#include "pictures/show_pictures.h"

namespace {

void loadAllPictures(benchmark::State& bench) {
    std::vector<Pixel> pictures[Picture::count];
    for (auto& picture : pictures) {
        picture.assign(Picture::pixels, 0);
    }
    std::vector<Pixel> strip(GreetingsStrip::pixels, 0);
    std::string paths[Picture::count + 1];
    for (int p = 0; p < Picture::count; ++p) {
        paths[p] = std::string(QUELTRAVINE_DATA_DIR) + "/" + kPictureFiles[p];
    }
    paths[Picture::count] = std::string(QUELTRAVINE_DATA_DIR) + "/" + kStripFile;

    for (auto _ : bench) {
        for (int p = 0; p < Picture::count; ++p) {
            loadPicture(paths[p].c_str(), pictures[p].data(), pictures[p].size());
        }
        loadPicture(paths[Picture::count].c_str(), strip.data(), strip.size());
        benchmark::ClobberMemory();
    }
    // A failed decode leaves the buffers at 0: every loaded pixel has its top byte set.
    if (pictures[4][0] >> 24 != 0xFF || strip[GreetingsStrip::pixels - 1] >> 24 != 0xFF) {
        bench.SkipWithError("a picture did not load");
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * (Picture::count + 1));
}
BENCHMARK(loadAllPictures)->Unit(benchmark::kMillisecond);

}  // namespace
