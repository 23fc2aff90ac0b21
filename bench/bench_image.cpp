// Writing a 4096 x 4096 texture: GIF of a colour image with many colours (a photograph-like
// gradient plus noise), GIF of a grey image, and BMP of both. Beside them: the colour GIF's
// quantisation alone, and the code list collected in a block list before packing (the
// alternative to packing codes as they are made, shown for its memory).
//
// Each benchmark reports peak_MB: the growth of the process's peak resident memory during
// the run over its resident memory before (the input image is made beforehand and not
// counted). The peak is reset through /proc/self/clear_refs before each run.
#include "foundation/KV_List.h"
#include "foundation/KV_String.h"
#include "image/KV_ColourMap.h"
#include "image/KV_ImageWriters.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{
constexpr int kSize = 4096;

long StatusKB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::stol(line.substr(prefix.size()));
    return 0;
}

// Resets the peak resident size to the current one; false where the kernel does not allow it.
bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return !clear.fail();
}

class PeakMemory
{
public:
    PeakMemory()
    {
        malloc_trim(0);
        mbReset = ResetPeak();
        mnBaseKB = StatusKB("VmRSS");
    }
    // Megabytes by which the peak rose above the starting resident size (-1 if unknown).
    double GrowthMB() const
    {
        return mbReset ? static_cast<double>(StatusKB("VmHWM") - mnBaseKB) / 1024.0 : -1.0;
    }

private:
    bool mbReset;
    long mnBaseKB;
};

// A cheap deterministic noise source.
struct Noise
{
    unsigned int state = 12345;
    int Next(int amplitude)
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % (2 * amplitude + 1)) - amplitude;
    }
};

unsigned char Clamp(int v)
{
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

const KV_Image<KV_RGB8>& ColourImage()
{
    static KV_Image<KV_RGB8> image = []
    {
        KV_Image<KV_RGB8> made(kSize, kSize);
        Noise noise;
        for (int r = 0; r < kSize; ++r)
            for (int c = 0; c < kSize; ++c)
                made(r, c) = KV_RGB8(Clamp(c * 256 / kSize + noise.Next(12)),
                                     Clamp(r * 256 / kSize + noise.Next(12)),
                                     Clamp((r + c) * 128 / kSize + noise.Next(24)));
        return made;
    }();
    return image;
}

const KV_Image<unsigned char>& GreyImage()
{
    static KV_Image<unsigned char> image = []
    {
        KV_Image<unsigned char> made(kSize, kSize);
        Noise noise;
        for (int r = 0; r < kSize; ++r)
            for (int c = 0; c < kSize; ++c)
                made(r, c) = Clamp((r + c) * 128 / kSize + noise.Next(16));
        return made;
    }();
    return image;
}

std::string OutputPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

template <typename Image>
using Writer = bool (*)(const Image&, const KV_String&);

template <typename Image>
void RunWriter(benchmark::State& state, const Image& image, const char* name, Writer<Image> write)
{
    const std::string path = OutputPath(name);
    double peak = 0;
    for (auto _ : state)
    {
        PeakMemory memory;
        if (!write(image, KV_String(path.c_str())))
            state.SkipWithError("write failed");
        peak = memory.GrowthMB();
    }
    state.counters["peak_MB"] = peak;
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kSize) * kSize);
    std::remove(path.c_str());
}

void BM_GifColour(benchmark::State& state)
{
    RunWriter(state, ColourImage(), "orvane_bench_colour.gif", KV_WriteGIF);
}

void BM_GifGrey(benchmark::State& state)
{
    RunWriter(state, GreyImage(), "orvane_bench_grey.gif", KV_WriteGIF);
}

void BM_BmpColour(benchmark::State& state)
{
    RunWriter(state, ColourImage(), "orvane_bench_colour.bmp", KV_WriteBMP);
}

void BM_BmpGrey(benchmark::State& state)
{
    RunWriter(state, GreyImage(), "orvane_bench_grey.bmp", KV_WriteBMP);
}

// Comparison: the colour GIF's quantisation alone (palette and index image).
void BM_QuantiseOnly(benchmark::State& state)
{
    const KV_Image<KV_RGB8>& image = ColourImage();
    double peak = 0;
    int colours = 0;
    for (auto _ : state)
    {
        PeakMemory memory;
        KV_Array<KV_RGB8> palette;
        KV_Image<unsigned char> indices;
        KV_ColourMap map(256);
        map.BuildPalette(image, palette);
        map.MapImage(image, indices);
        benchmark::DoNotOptimize(indices.Data());
        colours = map.LeafCount();
        peak = memory.GrowthMB();
    }
    state.counters["peak_MB"] = peak;
    state.counters["leaves"] = colours;
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kSize) * kSize);
}

// Comparison: collecting every 9-bit code in a block list before packing, for the grey
// image (no quantiser), packed into memory.
void BM_GifCodeListInMemory(benchmark::State& state)
{
    const KV_Image<unsigned char>& image = GreyImage();
    double peak = 0;
    for (auto _ : state)
    {
        PeakMemory memory;
        KV_List<unsigned int> codes(65536);
        codes.Append(256);
        unsigned int n = 0;
        for (int r = kSize - 1; r >= 0; --r)
            for (int c = 0; c < kSize; ++c)
            {
                codes.Append(image(r, c));
                if (++n % 100 == 0)
                    codes.Append(256);
            }
        codes.Append(257);
        std::vector<unsigned char> packed((9ull * codes.Count() + 7) / 8);
        for (unsigned int k = 0; k < codes.Count(); ++k)
        {
            const unsigned long long bit = 9ull * k;
            const unsigned int v = codes[k] << (bit % 8);
            packed[bit / 8] |= static_cast<unsigned char>(v);
            packed[bit / 8 + 1] |= static_cast<unsigned char>(v >> 8);
            if (bit / 8 + 2 < packed.size())
                packed[bit / 8 + 2] |= static_cast<unsigned char>(v >> 16);
        }
        benchmark::DoNotOptimize(packed.data());
        peak = memory.GrowthMB();
    }
    state.counters["peak_MB"] = peak;
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kSize) * kSize);
}
}  // namespace

BENCHMARK(BM_GifColour)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_QuantiseOnly)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_GifGrey)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_GifCodeListInMemory)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BmpColour)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BmpGrey)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
