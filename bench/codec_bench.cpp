// Compression and decompression throughput of whole 1280 x 720 frames, in MB/s
// of raw frame, with the compression ratio of each kind of picture, and of
// 1920 x 1080 pictures in planes: 8-bit 4:2:2, and deep_pictures.h's
// 10-bit 4:2:2 and 16-bit RGB (MB/s of their 16-bit samples):
//   codec_bench [--benchmark_filter=...]
// The testsrc2 frame comes from ffmpeg when it is installed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/decoder.h"
#include "deep_pictures.h"
#include "pictures.h"

namespace {

using namespace bench;

void compress(benchmark::State& state)
{
    const Bytes& frame = picture(static_cast<int>(state.range(0)));
    if (frame.empty()) {
        state.SkipWithError("ffmpeg is not available for the testsrc2 frame");
        return;
    }
    CodecInst codec;
    if (codec.CompressBegin(width, height, 24) != Status::ok) {
        state.SkipWithError("CompressBegin failed");
        return;
    }
    Bytes out(tarvic_frame_bound(width, height, 24));
    ICCOMPRESS block{};
    for (auto _ : state) {
        block.lpInput = frame.data();
        block.lpOutput = out.data();
        codec.CompressContinue(&block, 0);
        benchmark::DoNotOptimize(block.dwSize);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
    state.SetLabel(kind_names[state.range(0)]);
    state.counters["ratio"] = double(block.dwSize) / double(frame.size());
}

void decompress(benchmark::State& state)
{
    const Bytes& frame = picture(static_cast<int>(state.range(0)));
    if (frame.empty()) {
        state.SkipWithError("ffmpeg is not available for the testsrc2 frame");
        return;
    }
    CodecInst codec;
    TarvicDecoder decoder;
    if (codec.CompressBegin(width, height, 24) != Status::ok || decoder.DecompressBegin(width, height, 24) != Status::ok) {
        state.SkipWithError("begin failed");
        return;
    }
    Bytes coded(tarvic_frame_bound(width, height, 24));
    ICCOMPRESS block{};
    block.lpInput = frame.data();
    block.lpOutput = coded.data();
    codec.CompressContinue(&block, 0);
    Bytes pixels(frame.size());
    for (auto _ : state) {
        if (decoder.Decompress(coded.data(), block.dwSize, pixels.data()) != Status::ok) {
            state.SkipWithError("the frame does not decode");
            return;
        }
        benchmark::ClobberMemory();
    }
    if (pixels != frame) {
        state.SkipWithError("the decoded frame differs");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
    state.SetLabel(kind_names[state.range(0)]);
    state.counters["ratio"] = double(block.dwSize) / double(frame.size());
}

// A 1920 x 1080 picture in planes, packed one after another, coded or
// decoded over and over; MB/s of the picture's bytes.
void code_planes(benchmark::State& state, bool decode, PlaneLayout layout, int bits, unsigned char* frame,
                 std::size_t bytes, const char* label, bool prefix = true)
{
    CodecInst codec;
    codec.prefix_deep_planes = prefix;
    TarvicDecoder decoder;
    if (codec.BeginPlanes(planes_width, planes_height, layout, bits) != Status::ok ||
        decoder.BeginPlanes(planes_width, planes_height, layout, bits) != Status::ok) {
        state.SkipWithError("begin failed");
        return;
    }
    const PlanePicture picture = packed_picture(codec.shape, frame);
    Bytes coded(tarvic_planes_bound(planes_width, planes_height, layout, bits));
    Bytes back(bytes);
    const PlanePicture into = packed_picture(codec.shape, back.data());
    std::size_t size = 0;
    if (codec.CompressPlanes(picture, coded.data(), size) != Status::ok) {
        state.SkipWithError("the picture does not code");
        return;
    }
    for (auto _ : state) {
        const Status status = decode ? decoder.DecompressPlanes(coded.data(), size, into)
                                     : codec.CompressPlanes(picture, coded.data(), size);
        if (status != Status::ok) {
            state.SkipWithError("the picture does not code or decode");
            return;
        }
        benchmark::ClobberMemory();
    }
    if (decode && std::memcmp(back.data(), frame, bytes) != 0) {
        state.SkipWithError("the decoded picture differs");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetLabel(label);
    state.counters["ratio"] = double(size) / double(bytes);
}

// 1920 x 1080 pictures in 4:2:2 planes.
void planes(benchmark::State& state, bool decode)
{
    const Bytes& frame = planes_picture(static_cast<int>(state.range(0)));
    if (frame.empty()) {
        state.SkipWithError("ffmpeg is needed for testsrc2");
        return;
    }
    code_planes(state, decode, PlaneLayout::yuv422, 8, const_cast<unsigned char*>(frame.data()), frame.size(),
                plane_kind_names[state.range(0)]);
}

// 1920 x 1080 deep pictures, the first frame of deep_pictures' content,
// as frames of type 10 (second argument 0) and 12 (1).
constexpr int deep_kinds = 2;
const bench::DeepFormat deep_kind[deep_kinds] = {{"yuv422p10le", PlaneLayout::yuv422, 10},
                                                 {"gbrp16le", PlaneLayout::gbr444, 16}};
const char* const deep_kind_names[deep_kinds] = {"deep 10-bit 4:2:2", "deep 16-bit RGB"};

void deep(benchmark::State& state, bool decode)
{
    const bench::DeepFormat& format = deep_kind[state.range(0)];
    const PlaneShape shape = plane_shape(format.layout, planes_width, planes_height, format.bits);
    bench::DeepNoise noise;
    std::vector<std::uint16_t> frame;
    bench::deep_frame(format, shape, 0, noise, frame);
    code_planes(state, decode, format.layout, format.bits, reinterpret_cast<unsigned char*>(frame.data()),
                2 * frame.size(), deep_kind_names[state.range(0)], state.range(1) != 0);
}

void compress_planes(benchmark::State& state) { planes(state, false); }
void decompress_planes(benchmark::State& state) { planes(state, true); }
void compress_deep(benchmark::State& state) { deep(state, false); }
void decompress_deep(benchmark::State& state) { deep(state, true); }

BENCHMARK(compress)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(decompress)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(compress_planes)->DenseRange(0, plane_kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(decompress_planes)->DenseRange(0, plane_kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(compress_deep)->ArgsProduct({{0, deep_kinds - 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(decompress_deep)->ArgsProduct({{0, deep_kinds - 1}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
