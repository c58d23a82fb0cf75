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

namespace {

constexpr int width = 1280;
constexpr int height = 720;
using Bytes = std::vector<unsigned char>;

Bytes noise_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    std::uint32_t state = 2463534242u;
    for (auto& b : frame) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<unsigned char>(state);
    }
    return frame;
}

Bytes smooth_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &frame[(std::size_t(y) * width + x) * 3];
            const double v = 127.5 + 127.5 * std::sin(x / 97.0) * std::cos(y / 61.0);
            p[0] = static_cast<unsigned char>(v);
            p[1] = static_cast<unsigned char>((x + y) / 8);
            p[2] = static_cast<unsigned char>(255 - v / 2);
        }
    }
    return frame;
}

Bytes testsrc2_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    std::FILE* pipe = ::popen("ffmpeg -v error -f lavfi -i testsrc2=size=1280x720 -frames:v 1 "
                              "-f rawvideo -pix_fmt bgr24 - 2>/dev/null",
                              "r");
    if (pipe == nullptr || std::fread(frame.data(), 1, frame.size(), pipe) != frame.size()) {
        frame.clear();
    }
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    return frame;
}

const Bytes& picture(int kind)
{
    static const Bytes frames[3] = {noise_frame(), smooth_frame(), testsrc2_frame()};
    return frames[kind];
}

const char* const kind_names[3] = {"noise", "smooth", "testsrc2"};

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

BENCHMARK(compress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
