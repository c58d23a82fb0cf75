// Where a frame's time goes: every stage of coding and decoding a 1280 x 720
// frame on its own, in MB/s of raw frame, for each kind of picture:
//   stage_bench [--benchmark_filter=...]
// The argument is the kind: 0 noise, 1 grey noise, 2 smooth gradient,
// 3 mandelbrot, 4 testsrc2 (see pictures.h).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "codec/predict.h"
#include "entropy/range_coder.h"
#include "entropy/zero.h"
#include "pictures.h"

namespace {

using namespace bench;

constexpr std::size_t pixels = std::size_t(width) * height;
constexpr std::size_t frame_bytes = 3 * pixels;

// One channel range-coded, as a channel of a picture too small for its
// planes to be coded side by side is.
void encode_one(const RangeTable& table, const unsigned char* in, std::size_t n, unsigned char* out,
                std::size_t& emitted)
{
    const RangeTable* tables[1] = {&table};
    range_encode_side_by_side(1, tables, &in, &n, &out, &emitted);
}

// A picture's residual planes, and each plane as the range coder takes it:
// zero-run coded where compaction would code it so, with its table.
struct Planes {
    Bytes residuals = Bytes(frame_bytes);
    int level[3] = {};
    Bytes symbols[3];
    RangeTable tables[3];
    Bytes coded[3];
    std::size_t emitted[3] = {};
};

const Planes& planes_of(int kind)
{
    static Planes all[kinds];
    static bool made[kinds] = {};
    Planes& p = all[kind];
    if (!made[kind] && !picture(kind).empty()) {
        Bytes sources(frame_bytes);
        DeEntropyPlanes(picture(kind).data(), PixelOrder::frame, sources.data(), p.residuals.data(), width, height);
        for (int c = 0; c < 3; ++c) {
            const unsigned char* plane = p.residuals.data() + c * pixels;
            p.level[c] = zero::testRLE(plane, int(pixels), std::max(int(pixels / 1000), 16));
            p.symbols[c].assign(pixels, 0);
            const std::size_t n = p.level[c] == 0
                                      ? pixels
                                      : std::size_t(zero::RLE(plane, p.symbols[c].data(), int(pixels), p.level[c]));
            if (p.level[c] == 0) {
                std::memcpy(p.symbols[c].data(), plane, pixels);
            }
            p.symbols[c].resize(n);
            unsigned counts[256] = {};
            count_bytes(p.symbols[c].data(), n, counts);
            build_shares(counts, n, p.tables[c].prob, p.tables[c].bits);
            prepare_table(p.tables[c], true);
            p.coded[c].assign(3 * n + 16, 0);
            encode_one(p.tables[c], p.symbols[c].data(), n, p.coded[c].data(), p.emitted[c]);
        }
        made[kind] = true;
    }
    return p;
}

bool usable(benchmark::State& state)
{
    if (picture(static_cast<int>(state.range(0))).empty()) {
        state.SkipWithError("ffmpeg is not available for this picture");
        return false;
    }
    state.SetLabel(kind_names[state.range(0)]);
    return true;
}

void finish(benchmark::State& state) { state.SetBytesProcessed(std::int64_t(state.iterations() * frame_bytes)); }

// Colour decorrelation, plane separation and prediction of a frame given in
// the frame pixel order, and of one given as a raw movie holds it.
void predict_frame(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    Bytes sources(frame_bytes);
    Bytes out(frame_bytes);
    for (auto _ : state) {
        DeEntropyPlanes(picture(int(state.range(0))).data(), PixelOrder::frame, sources.data(), out.data(), width,
                        height);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void predict_movie_order(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    Bytes sources(frame_bytes);
    Bytes out(frame_bytes);
    for (auto _ : state) {
        DeEntropyPlanes(picture(int(state.range(0))).data(), PixelOrder::movie, sources.data(), out.data(), width,
                        height);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void unpredict_frame(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    Bytes scratch(ReEntropyPlanesScratch(width));
    Bytes out(frame_bytes);
    for (auto _ : state) {
        ReEntropyPlanes(p.residuals.data(), scratch.data(), out.data(), false, width, height);
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
    const Planes& p = planes_of(int(state.range(0)));
    int levels = 0;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            levels += zero::testRLE(p.residuals.data() + c * pixels, int(pixels), int(pixels / 1000));
        }
        benchmark::DoNotOptimize(levels);
    }
    finish(state);
}

// Zero-run coding of the three planes at level 1, whatever the test says,
// and decoding them back.
void zero_run_code(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    Bytes out(2 * pixels + 16);
    int n = 0;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            n += zero::RLE(p.residuals.data() + c * pixels, out.data(), int(pixels), 1);
        }
        benchmark::DoNotOptimize(n);
    }
    finish(state);
}

void zero_run_decode(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    Bytes coded[3];
    int n[3];
    for (int c = 0; c < 3; ++c) {
        coded[c].assign(2 * pixels + 16, 0);
        n[c] = zero::RLE(p.residuals.data() + c * pixels, coded[c].data(), int(pixels), 1);
    }
    Bytes out(pixels + 16);
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            benchmark::DoNotOptimize(zero::deRLE(coded[c].data(), n[c], out.data(), int(pixels), 1));
        }
        benchmark::ClobberMemory();
    }
    finish(state);
}

// Counting and table scaling of the three planes.
void count_bytes(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    unsigned counts[256];
    RangeTable table;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            ::count_bytes(p.symbols[c].data(), p.symbols[c].size(), counts);
            build_shares(counts, p.symbols[c].size(), table.prob, table.bits);
        }
        benchmark::DoNotOptimize(table.prob[128]);
    }
    finish(state);
}

// Range coding of the three planes as compaction codes them, one after
// another and side by side.
void range_encode_one_by_one(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    Bytes out[3];
    for (int c = 0; c < 3; ++c) {
        out[c].assign(3 * p.symbols[c].size() + 16, 0);
    }
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            std::size_t emitted = 0;
            encode_one(p.tables[c], p.symbols[c].data(), p.symbols[c].size(), out[c].data(), emitted);
            benchmark::DoNotOptimize(emitted);
        }
        benchmark::ClobberMemory();
    }
    finish(state);
}

// The three planes of a picture as range_encode_side_by_side and
// range_decode_side_by_side take them, with room for what they write.
struct SideBySide {
    Bytes out[3];
    const RangeTable* tables[3];
    const unsigned char* in[3];
    unsigned char* outs[3];
    std::size_t n[3];

    SideBySide(const Planes& p, bool decoding)
    {
        for (int c = 0; c < 3; ++c) {
            out[c].assign(decoding ? p.symbols[c].size() : 3 * p.symbols[c].size() + 16, 0);
            tables[c] = &p.tables[c];
            in[c] = decoding ? p.coded[c].data() : p.symbols[c].data();
            outs[c] = out[c].data();
            n[c] = p.symbols[c].size();
        }
    }
};

void range_encode_together(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    SideBySide planes(planes_of(int(state.range(0))), false);
    std::size_t emitted[3];
    for (auto _ : state) {
        range_encode_side_by_side(3, planes.tables, planes.in, planes.n, planes.outs, emitted);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void range_decode_one_by_one(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    Bytes out(pixels);
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c) {
            const RangeTable* tables[1] = {&p.tables[c]};
            const unsigned char* in = p.coded[c].data();
            unsigned char* to = out.data();
            const std::size_t n = p.symbols[c].size();
            if (range_decode_side_by_side(1, tables, &in, &p.emitted[c], &to, &n) != Status::ok) {
                state.SkipWithError("a plane does not decode");
                return;
            }
        }
        benchmark::ClobberMemory();
    }
    finish(state);
}

void range_decode_together(benchmark::State& state)
{
    if (!usable(state)) {
        return;
    }
    const Planes& p = planes_of(int(state.range(0)));
    SideBySide planes(p, true);
    for (auto _ : state) {
        if (range_decode_side_by_side(3, planes.tables, planes.in, p.emitted, planes.outs, planes.n) != Status::ok) {
            state.SkipWithError("the planes do not decode");
            return;
        }
        benchmark::ClobberMemory();
    }
    for (int c = 0; c < 3; ++c) {
        if (planes.out[c] != p.symbols[c]) {
            state.SkipWithError("a decoded plane differs");
        }
    }
    finish(state);
}

}  // namespace

BENCHMARK(predict_frame)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(predict_movie_order)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(unpredict_frame)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(zero_run_test)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(zero_run_code)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(zero_run_decode)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(count_bytes)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(range_encode_one_by_one)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(range_encode_together)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(range_decode_one_by_one)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(range_decode_together)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
