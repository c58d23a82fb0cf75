// Compression and decompression throughput of whole 1280 x 720 frames, in MB/s
// of raw frame, with the compression ratio of each kind of picture:
//   codec_bench [--benchmark_filter=...]
// The testsrc2 frame comes from ffmpeg when it is installed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/decoder.h"
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

BENCHMARK(compress)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(decompress)->DenseRange(0, kinds - 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
