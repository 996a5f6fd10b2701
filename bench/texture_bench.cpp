// Texture pixel work, side by side with its references in one run:
//  - DXT1/DXT3/DXT5 decode of a 4096x4096 image: the project's decoders against libsquish's
//    DecompressImage on the same blocks (goal: at least twice libsquish's pixel rate);
//  - 24-bit to 32-bit conversion, plain and SSSE3, against memcpy of the same output size
//    (goal: SSSE3 at least 4x plain, and at least half of memcpy's bandwidth).
// Single thread. The summary after the table gives the ratios.
#include <benchmark/benchmark.h>
#include <squish.h>

#include <cpuid.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ravelstone/texture/d3d_formats.h"
#include "ravelstone/texture/dxt_decode.h"
#include "ravelstone/texture/rgb24_convert.h"

namespace {

using namespace ravelstone;

constexpr std::uint32_t kImageSide = 4096;
constexpr std::uint32_t kBlocksAcross = kImageSide / 4;
constexpr double kImagePixels = double{kImageSide} * kImageSide;

const std::vector<std::uint8_t>& RandomBytes(std::size_t size) {
    static std::map<std::size_t, std::vector<std::uint8_t>> cache;
    auto& bytes = cache[size];
    if (bytes.empty()) {
        std::mt19937 random(12345);
        bytes.resize(size);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
    }
    return bytes;
}

std::vector<std::uint8_t>& ImageBuffer() {
    static std::vector<std::uint8_t> image(std::size_t{kImageSide} * kImageSide * 4);
    return image;
}

void SetPixelRate(benchmark::State& state, double pixelsPerIteration) {
    state.counters["MP/s"] =
        benchmark::Counter(pixelsPerIteration * static_cast<double>(state.iterations()) / 1e6,
                           benchmark::Counter::kIsRate);
}

void DecodeProject(benchmark::State& state, D3dFormat format) {
    const auto& blocks =
        RandomBytes(std::size_t{kBlocksAcross} * kBlocksAcross * DxtBlockBytes(format));
    auto& image = ImageBuffer();
    for (auto _ : state) {
        for (std::uint32_t row = 0; row < kBlocksAcross; ++row) {
            DecodeDxtBlockRow(format, kBlocksAcross, blocks.data(), image.data(), row);
        }
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, kImagePixels);
}

void DecodeSquish(benchmark::State& state, int flags, std::size_t blockBytes) {
    const auto& blocks = RandomBytes(std::size_t{kBlocksAcross} * kBlocksAcross * blockBytes);
    auto& image = ImageBuffer();
    for (auto _ : state) {
        squish::DecompressImage(image.data(), kImageSide, kImageSide, blocks.data(), flags);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, kImagePixels);
}

BENCHMARK_CAPTURE(DecodeProject, Dxt1, d3dfmt::kDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeSquish, Dxt1, squish::kDxt1, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeProject, Dxt3, d3dfmt::kDxt3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeSquish, Dxt3, squish::kDxt3, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeProject, Dxt5, d3dfmt::kDxt5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeSquish, Dxt5, squish::kDxt5, 16)->Unit(benchmark::kMillisecond);

bool ProcessorHasSsse3() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
}

// Pixels per run: a 1024x1024 texture (3 MiB in, 4 MiB out), and a run that stays in cache.
void Rgb24Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1 << 20)->Arg(1 << 14);
}

void SetOutputRate(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 4);
}

void Convert(benchmark::State& state, Rgb24RowConverter convert) {
    if (convert == ConvertRgb24ToArgb32Ssse3 && !ProcessorHasSsse3()) {
        state.SkipWithError("no SSSE3");
        return;
    }
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto& source = RandomBytes(count * 3);
    auto& destination = ImageBuffer();
    for (auto _ : state) {
        convert(destination.data(), source.data(), count);
        benchmark::ClobberMemory();
    }
    SetOutputRate(state);
}

void Memcpy(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto& source = RandomBytes(count * 4);
    auto& destination = ImageBuffer();
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), count * 4);
        benchmark::ClobberMemory();
    }
    SetOutputRate(state);
}

BENCHMARK_CAPTURE(Convert, Plain, ConvertRgb24ToArgb32)->Apply(Rgb24Sizes);
BENCHMARK_CAPTURE(Convert, Ssse3, ConvertRgb24ToArgb32Ssse3)->Apply(Rgb24Sizes);
BENCHMARK(Memcpy)->Apply(Rgb24Sizes);

// Keeps each run's rate so that the ratios can be printed after the table.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto pixels = run.counters.find("MP/s");
            const auto bytes = run.counters.find("bytes_per_second");
            if (pixels != run.counters.end()) {
                rate[run.benchmark_name()] = pixels->second;
            } else if (bytes != run.counters.end()) {
                rate[run.benchmark_name()] = bytes->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PrintRatio(const RecordingReporter& r, const char* what, const std::string& ours,
                const std::string& theirs) {
    const auto a = r.rate.find(ours);
    const auto b = r.rate.find(theirs);
    if (a != r.rate.end() && b != r.rate.end() && b->second > 0) {
        std::printf("%-40s %6.2fx\n", what, a->second / b->second);
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (single thread)\n");
    for (const char* kind : {"Dxt1", "Dxt3", "Dxt5"}) {
        PrintRatio(reporter, (std::string(kind) + " decode, project / libsquish").c_str(),
                   std::string("DecodeProject/") + kind, std::string("DecodeSquish/") + kind);
    }
    for (const char* size : {"1048576", "16384"}) {
        const std::string n = size;
        PrintRatio(reporter, ("24-bit SSSE3 / plain, " + n + " px").c_str(), "Convert/Ssse3/" + n,
                   "Convert/Plain/" + n);
        PrintRatio(reporter, ("24-bit SSSE3 / memcpy, " + n + " px").c_str(), "Convert/Ssse3/" + n,
                   "Memcpy/" + n);
    }
    benchmark::Shutdown();
    return 0;
}
