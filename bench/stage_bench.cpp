// Where a frame's time goes: every stage of coding and decoding a 1280 x 720
// frame on its own, in MB/s of raw frame (for the per-plane stages, of the
// frame's three planes), for each kind of picture:
//   stage_bench [--benchmark_filter=...]
// Argument 0 is noise, 1 the smooth gradient, 2 testsrc2.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "codec/predict.h"
#include "entropy/compress.h"
#include "entropy/zero.h"
#include "pictures.h"

namespace {

using namespace bench;

constexpr std::size_t pixels = std::size_t(width) * height;
constexpr std::size_t frame_bytes = 3 * pixels;

// A picture's residuals, pixel by pixel and as three planes.
struct Residuals {
    Bytes interleaved = Bytes(frame_bytes);
    Bytes planes = Bytes(frame_bytes);
};

const Residuals& residuals_of(int kind)
{
    static Residuals all[3];
    static bool made[3] = {};
    if (!made[kind] && !picture(kind).empty()) {
        Bytes copy = picture(kind);
        DeEntropy(copy.data(), all[kind].interleaved.data(), width, height);
        split_planes(all[kind].interleaved.data(), all[kind].planes.data(), pixels, 3);
        made[kind] = true;
    }
    return all[kind];
}

bool usable(benchmark::State& state)
{
    if (picture(static_cast<int>(state.range(0))).empty()) {
        state.SkipWithError("ffmpeg is not available for the testsrc2 frame");
        return false;
    }
    state.SetLabel(kind_names[state.range(0)]);
    return true;
}

void finish(benchmark::State& state) { state.SetBytesProcessed(std::int64_t(state.iterations() * frame_bytes)); }

// Colour decorrelation and median prediction (on a fresh copy each time:
// the decorrelation works in place; the copy is timed too).
void predict_frame(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    Bytes copy(frame_bytes);
    Bytes out(frame_bytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), picture(int(state.range(0))).data(), frame_bytes);
        DeEntropy(copy.data(), out.data(), width, height);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void unpredict_frame(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    Bytes out(frame_bytes);
    for (auto _ : state) {
        ReEntropy(r.interleaved.data(), out.data(), width, height);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void separate_planes(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    Bytes out(frame_bytes);
    for (auto _ : state) {
        split_planes(r.interleaved.data(), out.data(), pixels, 3);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void interleave_planes(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    Bytes out(frame_bytes);
    for (auto _ : state) {
        join_planes(r.planes.data(), out.data(), pixels, 3);
        benchmark::ClobberMemory();
    }
    finish(state);
}

// The zero-run test of the three planes, with the threshold that channel
// compaction uses.
void zero_run_test(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    int levels = 0;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            levels += zero::testRLE(r.planes.data() + c * pixels, int(pixels), int(pixels / 1000));
        }
        benchmark::DoNotOptimize(levels);
    }
    finish(state);
}

// Zero-run coding of the three planes at level 1, whatever the test says.
void zero_run_code(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    Bytes out(2 * pixels + 16);
    int n = 0;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            n += zero::RLE(r.planes.data() + c * pixels, out.data(), int(pixels), 1);
        }
        benchmark::DoNotOptimize(n);
    }
    finish(state);
}

// Counting and table scaling of the three planes.
void count_bytes(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    Compress compress;
    if (!compress.InitCompressBuffers(unsigned(pixels))) {
        state.SkipWithError("no memory");
        return;
    }
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            compress.calcprob(r.planes.data() + c * pixels, unsigned(pixels));
        }
        benchmark::DoNotOptimize(compress.prob[128]);
    }
    finish(state);
}

// Range coding of the three planes, each with its own table.
struct CodedPlanes {
    Compress tables[3];
    Bytes coded[3];
    unsigned lengths[3] = {};
};

bool code_planes(const Residuals& r, CodedPlanes& coded)
{
    for (int c = 0; c < 3; ++c) {
        if (!coded.tables[c].InitCompressBuffers(unsigned(pixels))) {
            return false;
        }
        coded.tables[c].calcprob(r.planes.data() + c * pixels, unsigned(pixels));
        coded.coded[c].assign(3 * pixels + 16, 0);
        coded.lengths[c] = coded.tables[c].encode(r.planes.data() + c * pixels, coded.coded[c].data(), unsigned(pixels));
    }
    return true;
}

void range_encode(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    CodedPlanes coded;
    if (!code_planes(r, coded)) {
        state.SkipWithError("no memory");
        return;
    }
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            coded.lengths[c] =
                coded.tables[c].encode(r.planes.data() + c * pixels, coded.coded[c].data(), unsigned(pixels));
        }
        benchmark::ClobberMemory();
    }
    finish(state);
}

void range_decode(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Residuals& r = residuals_of(int(state.range(0)));
    CodedPlanes coded;
    if (!code_planes(r, coded)) {
        state.SkipWithError("no memory");
        return;
    }
    Bytes out(pixels);
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            if (coded.tables[c].decode(coded.coded[c].data(), coded.lengths[c], out.data(), unsigned(pixels)) !=
                Status::ok) {
                state.SkipWithError("the plane does not decode");
                return;
            }
        }
        benchmark::ClobberMemory();
    }
    if (std::memcmp(out.data(), r.planes.data() + 2 * pixels, pixels) != 0) {
        state.SkipWithError("the decoded plane differs");
    }
    finish(state);
}

}  // namespace

BENCHMARK(predict_frame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(unpredict_frame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(separate_planes)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(interleave_planes)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(zero_run_test)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(zero_run_code)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(count_bytes)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(range_encode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(range_decode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
