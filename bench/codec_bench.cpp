// Throughput of the exports and of the two transforms; megapixels per
// second per layout and kernel set in both directions.
//   cmake -S . -B build-bench -DJPG_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target jpg_bench && ./build-bench/bench/jpg_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "decoder/decoder_internal.h"
#include "encoder/encoder_state.h"
#include "jpg.h"
#include "test_util.h"

namespace {

// A photo-like source and its export, made once per picture size.
struct Pictures {
    testutil::TempDir dir;
    std::string source(uint32_t width, uint32_t height, uint32_t channels) {
        const std::string path =
            dir.file(std::to_string(width) + "x" + std::to_string(height) + "-" + std::to_string(channels) + ".bmp");
        if (!testutil::fileExists(path))
            testutil::writeFile(path, testutil::bmpBytes(testutil::photoImage(width, height, channels)));
        return path;
    }
    // cjpeg's file of the picture in one of kImportLayouts; empty without cjpeg.
    std::string peerJpeg(uint32_t width, uint32_t height, int layout);
    std::string exported(uint32_t width, uint32_t height, uint32_t channels) {
        const std::string bmp = source(width, height, channels);
        const std::string jpeg = bmp + ".jpg";
        if (!testutil::fileExists(jpeg)) iExportJPG(bmp.c_str(), jpeg.c_str(), 1, 3);
        return jpeg;
    }
};

Pictures &pictures() {
    static Pictures p;
    return p;
}

struct ImportLayout {
    const char *name;
    const char *options;
    uint32_t channels;
};
constexpr ImportLayout kImportLayouts[] = {
    {"4:2:0", "-sample 2x2", 3},
    {"4:2:2", "-sample 2x1", 3},
    {"4:4:4", "-sample 1x1", 3},
    {"grey", "-grayscale", 1},
    {"4:2:0 restarts", "-sample 2x2 -restart 1", 3},
};

std::string Pictures::peerJpeg(uint32_t width, uint32_t height, int layout) {
    const std::string jpeg =
        dir.file(std::to_string(width) + "x" + std::to_string(height) + "-layout" + std::to_string(layout) + ".jpg");
    if (testutil::fileExists(jpeg)) return jpeg;
    const ImportLayout &l = kImportLayouts[layout];
    const std::string pnm = dir.file("peer-source.pnm");
    testutil::writeFile(pnm, testutil::pnmBytes(testutil::photoImage(width, height, l.channels)));
    const bool made =
        testutil::run(std::string("cjpeg -quality 75 -dct int ") + l.options + " -outfile " + jpeg + " " + pnm) == 0;
    std::remove(pnm.c_str());
    return made ? jpeg : std::string();
}

void BM_Export(benchmark::State &state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const auto channels = static_cast<uint32_t>(state.range(2));
    const std::string in = pictures().source(w, h, channels);
    const std::string out = pictures().dir.file("bench-out.jpg");
    for (auto _ : state) benchmark::DoNotOptimize(iExportJPG(in.c_str(), out.c_str(), 1, 3));
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
    std::remove(out.c_str());
}

// iExportJPG's work per kernel set, threads as the exports choose them:
// megapixels per second of a photo-like picture.
void BM_ExportKernels(benchmark::State &state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const auto channels = static_cast<uint32_t>(state.range(2));
    const auto kernels = static_cast<jpg::KernelSet>(state.range(3));
    if (!jpg::kernelSetAvailable(kernels)) {
        state.SkipWithError("kernel set not available on this processor");
        return;
    }
    state.SetLabel(std::string(channels == 3 ? "colour " : "grey ") + jpg::kernelSetName(kernels));
    const std::string in = pictures().source(w, h, channels);
    const std::string out = pictures().dir.file("bench-out.jpg");
    const jpg::CallOptions options{kernels, 0};
    for (auto _ : state) benchmark::DoNotOptimize(jpg::exportJpeg(in.c_str(), out.c_str(), 1, 30, options));
    state.counters["MP/s"] = benchmark::Counter(double(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    std::remove(out.c_str());
}

void exportKernelArgs(benchmark::internal::Benchmark *b) {
    for (const int64_t channels : {3, 1})
        for (const jpg::KernelSet k :
             {jpg::KernelSet::Reference, jpg::KernelSet::Plain, jpg::KernelSet::Sse2, jpg::KernelSet::Avx2})
            for (const auto &size : {std::pair<int64_t, int64_t>{640, 480}, {4000, 3000}})
                b->Args({size.first, size.second, channels, static_cast<int64_t>(k)});
}

// The import's work per layout and kernel set, threads as the exports
// choose them: megapixels per second of cjpeg's files of a photo-like
// picture (quality 75).
void BM_ImportKernels(benchmark::State &state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const auto layout = static_cast<int>(state.range(2));
    const auto kernels = static_cast<jpg::KernelSet>(state.range(3));
    if (!jpg::kernelSetAvailable(kernels)) {
        state.SkipWithError("kernel set not available on this processor");
        return;
    }
    const std::string in = pictures().peerJpeg(w, h, layout);
    if (in.empty()) {
        state.SkipWithError("cjpeg is not installed");
        return;
    }
    state.SetLabel(std::string(kImportLayouts[layout].name) + " " + jpg::kernelSetName(kernels));
    const std::string out = pictures().dir.file("bench-out.bmp");
    const jpg::CallOptions options{kernels, 0};
    for (auto _ : state) benchmark::DoNotOptimize(jpg::importJpegFile(in.c_str(), out.c_str(), options));
    state.counters["MP/s"] = benchmark::Counter(double(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    std::remove(out.c_str());
}

void importKernelArgs(benchmark::internal::Benchmark *b) {
    for (int64_t layout = 0; layout < int64_t(sizeof kImportLayouts / sizeof kImportLayouts[0]); ++layout)
        for (const jpg::KernelSet k :
             {jpg::KernelSet::Reference, jpg::KernelSet::Plain, jpg::KernelSet::Sse2, jpg::KernelSet::Avx2})
            for (const auto &size : {std::pair<int64_t, int64_t>{640, 480}, {4000, 3000}})
                b->Args({size.first, size.second, layout, static_cast<int64_t>(k)});
}

void BM_Import(benchmark::State &state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const auto channels = static_cast<uint32_t>(state.range(2));
    const std::string in = pictures().exported(w, h, channels);
    const std::string out = pictures().dir.file("bench-out.bmp");
    for (auto _ : state) benchmark::DoNotOptimize(iImportJPG(in.c_str(), out.c_str()));
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
    std::remove(out.c_str());
}

// One in-place block transform, on a copy of the same block each time.
template <void (*Transform)(int32_t *)>
void BM_Transform(benchmark::State &state) {
    int32_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = (i * 53 % 255) - 128;
    for (auto _ : state) {
        int32_t work[64];
        for (int i = 0; i < 64; ++i) work[i] = block[i];
        Transform(work);
        benchmark::DoNotOptimize(work);
    }
    state.SetItemsProcessed(state.iterations());
}

void inverseDct(int32_t *block) { jpg::inverseDct(block); }
void forwardDct(int32_t *block) { jpg::forwardDct(block); }

}  // namespace

BENCHMARK(BM_ExportKernels)->Apply(exportKernelArgs)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export)->Args({640, 480, 3})->Args({640, 480, 1})->Args({1024, 768, 3})->Args({1024, 768, 1})->Args({4000, 3000, 3})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportKernels)->Apply(importKernelArgs)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import)->Args({640, 480, 3})->Args({640, 480, 1})->Args({1024, 768, 3})->Args({1024, 768, 1})->Args({4000, 3000, 3})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Transform, inverseDct)->Name("BM_InverseDct");
BENCHMARK_TEMPLATE(BM_Transform, forwardDct)->Name("BM_ForwardDct");

BENCHMARK_MAIN();
