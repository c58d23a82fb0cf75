// The Tarvic frame layer: coded frames of every type pinned byte for byte
// (the prediction filters, shared by coder and decoder, round-trip whatever
// they are: only pinned bytes hold them to the format), every form of the
// median predictor against the one, the codec's choice of frame type, and
// damaged frames refused with the picture left alone (any bytes are the
// frame fuzz target's; every picture back is round_trip_test.cpp's).
#include "codec/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/median.h"
#include "common/byte_order.h"
#include "tarvic.h"

#include "coder.h"

#include "support/files.h"

namespace {

using namespace codec_test;
using test::fnv1a;

TEST(TarvicFrames, EveryFrameTypeIsPinned)
{
    // Another decoder reads these bytes: each type's frame, by length and
    // FNV-1a hash, the last of a run of frames coded by one instance. (The
    // one-colour frames are {5, 0x30}, {6, 0x10, 0x20, 0x30}, {9, 1, 2, 3, 4},
    // {11, 3, 8, 16, 128, 200}.)
    const Bytes ramp = picture("gradient", 8, 4, 3, 0);
    const Bytes ramp32 = picture("gradient", 5, 4, 4, 0);
    // Frames wide and tall enough for every step of the fast filters.
    const Bytes photo = picture("photo", 67, 13, 3, 9);
    const Bytes photo32 = picture("photo", 37, 11, 4, 9);
    // One colour but for the ninth pixel is coded in full, and so are fewer
    // than eight pixels of one colour: they are never tested for it.
    Bytes ninth = solid(32, {1, 2, 3});
    ninth[8 * 3] = 9;
    // Y, Cb and Cr of a 4 x 2 picture.
    const Bytes worked = {16, 20, 24, 30, 18, 22, 26, 29, 128, 130, 127, 131, 120, 118, 121, 117};
    const PlaneLayout yuv422 = PlaneLayout::yuv422;
    const PlaneLayout yuv444 = PlaneLayout::yuv444;
    const PlaneLayout yuva444 = PlaneLayout::yuva444;
    Bytes one_value(14, 16);  // Y 16, Cb 128, Cr 200 of a 3 x 2 picture
    std::fill(one_value.begin() + 6, one_value.end(), 128);
    std::fill(one_value.begin() + 10, one_value.end(), 200);
    const PlaneLayout gbr444 = PlaneLayout::gbr444;
    const PlaneLayout gbra444 = PlaneLayout::gbra444;
    const PlaneLayout grey = PlaneLayout::grey;
    // A grey 3 x 2 picture of 10-bit samples, and G 0x1234, B 0xFEDC, R 1
    // and alpha 0xFFFF of a 3 x 2 one, as host-order words.
    const Bytes worked_grey = words({512, 520, 515, 100, 900, 905});
    const Bytes deep_one_value = words({0x1234, 0x1234, 0x1234, 0x1234, 0x1234, 0x1234, 0xFEDC, 0xFEDC, 0xFEDC,
                                        0xFEDC, 0xFEDC, 0xFEDC, 1, 1, 1, 1, 1, 1, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                        0xFFFF, 0xFFFF});
    const struct {
        const char* name;
        int width, height, bits;
        bool keep_alpha, null_frames;
        std::vector<Bytes> frames;
        unsigned char type;
        std::size_t size;
        std::uint64_t hash;
        PlaneLayout planes = PlaneLayout{};  // pictures of planes one after another, of `bits` a sample
        const char* kind = nullptr;          // or a planes_picture() of this kind and seed
        unsigned seed = 0;
    } cases[] = {
        {"4: 24-bit", 8, 4, 24, false, false, {ramp}, 4, 59, 0xd109e490bbbc67c6u},
        {"4: noise", 7, 3, 24, false, false, {picture("noise", 7, 3, 3, 1)}, 4, 151, 0x5a8c4656de9f0de8u},
        {"4: photo", 67, 13, 24, false, false, {photo}, 4, 1243, 0xfe6ffad29db0d820u},
        {"8: photo", 37, 11, 32, true, false, {photo32}, 8, 933, 0x89c49e806a6c15e4u},
        {"5: grey", 8, 4, 24, false, false, {solid(32, {0x30, 0x30, 0x30})}, 5, 2, 0x08217a07b4dce4f0u},
        {"6: one colour", 8, 4, 24, false, false, {solid(32, {0x10, 0x20, 0x30})}, 6, 4, 0x822b7e6ea285f973u},
        {"8: 32-bit", 5, 4, 32, true, false, {ramp32}, 8, 77, 0x24acd68cd76d5e28u},
        {"8: noise", 3, 3, 32, true, false, {picture("noise", 3, 3, 4, 2)}, 8, 117, 0xba9a092930386f1au},
        {"9: one colour with alpha", 4, 4, 32, true, false, {solid(16, {1, 2, 3, 4})}, 9, 5, 0xcc22060adeb4e0f8u},
        {"4: 32-bit without alpha", 5, 4, 32, false, false, {ramp32}, 4, 57, 0x168ae72b9048098eu},
        {"4: one colour but the ninth pixel", 8, 4, 24, false, false, {ninth}, 4, 61, 0x7d632830034706a6u},
        {"4: fewer than eight pixels", 7, 1, 24, false, false, {Bytes(21, 0)}, 4, 36, 0x46340b5b7ef3e812u},
        {"5: a first frame is never null", 8, 4, 24, false, true, {Bytes(96, 128)}, 5, 2, 0x08220a07b4ddd9a0u},
        {"10: the format document's 4:2:2 picture", 4, 2, 8, false, false, {worked}, 10, 54, 0x5319535b280ea393u,
         yuv422},
        {"10: 4:2:2 photo of odd width", 37, 11, 8, false, false, {planes_picture("photo", yuv422, 37, 11, 9)}, 10,
         394, 0x4e59d347b3a501ccu, yuv422},
        {"10: 4:4:4", 5, 3, 8, false, false, {planes_picture("noise", yuv444, 5, 3, 4)}, 10, 123, 0xa17fc82b57d44173u,
         yuv444},
        {"10: 4:4:4 with alpha", 19, 7, 8, false, false, {planes_picture("gradient", yuva444, 19, 7, 3)}, 10, 127,
         0x763667665cc094feu, yuva444},
        {"11: one value a plane", 3, 2, 8, false, true, {one_value}, 11, 6, 0x005ed757082d627bu, yuv422},
        // Samples of 10 and 16 bits, each plane two channels: three planes
        // are six channels, a group of four and one of two.
        {"10: the format document's grey 10-bit picture", 3, 2, 10, false, false,
         {worked_grey}, 10, 38, 0x180190a815085238u, grey},
        {"10: 4:2:2 10-bit", 37, 11, 10, false, false, {}, 10, 573, 0x3e1b222b7c2f3d72u, yuv422, "photo", 9},
        {"10: 4:4:4 10-bit", 13, 5, 10, false, false, {}, 10, 463, 0xd28fa1d8692a8be4u, yuv444, "noise", 4},
        {"10: RGB 10-bit", 19, 7, 10, false, false, {}, 10, 336, 0xe8738d3061de739bu, gbr444, "photo", 2},
        {"10: RGB 16-bit", 19, 7, 16, false, false, {}, 10, 206, 0x5a14086de212c442u, gbr444, "gradient", 3},
        {"10: RGB and alpha 16-bit", 11, 6, 16, false, false, {}, 10, 426, 0xc1a4012d11afa15eu, gbra444, "photo", 5},
        {"10: grey 16-bit", 23, 9, 16, false, false, {}, 10, 611, 0x70498f96c2bb1b90u, grey, "noise", 6},
        // The same pictures as type 12, their low bytes prefix coded.
        {"12: the format document's grey 10-bit picture", 3, 2, 10, false, false, {worked_grey}, 12, 164, 0x9b6ead4d657c92feu, grey},
        {"12: 4:2:2 10-bit", 37, 11, 10, false, false, {}, 12, 893, 0xe11768065d61046cu, yuv422, "photo", 9},
        {"12: 4:4:4 10-bit", 13, 5, 10, false, false, {}, 12, 675, 0xed06c364e35a55d4u, yuv444, "noise", 4},
        {"12: RGB 10-bit", 19, 7, 10, false, false, {}, 12, 679, 0x481bf9708bd47f7du, gbr444, "photo", 2},
        {"12: RGB 16-bit", 19, 7, 16, false, false, {}, 12, 602, 0xe734fae1f6597c5fu, gbr444, "gradient", 3},
        {"12: RGB and alpha 16-bit", 11, 6, 16, false, false, {}, 12, 909, 0xec67a4f49783f098u, gbra444, "photo", 5},
        {"12: grey 16-bit", 23, 9, 16, false, false, {}, 12, 635, 0xa6d133d606612a44u, grey, "noise", 6},
        {"11: one value a plane, 16-bit", 3, 2, 16, false, true,
         {deep_one_value}, 11, 11, 0x3996d076c2fd3c39u, gbra444},
    };
    for (const auto& c : cases) {
        Coder coder(c.width, c.height, c.bits, c.keep_alpha, c.null_frames, c.planes);
        coder.codec.prefix_deep_planes = c.type == FRAME_PREFIX_PLANES;
        Bytes coded;
        const std::vector<Bytes> frames =
            c.kind != nullptr ? std::vector<Bytes>{planes_picture(c.kind, c.planes, c.width, c.height, c.seed, c.bits)}
                              : c.frames;
        for (const Bytes& frame : frames) {
            coded = coder.code(frame);
        }
        const std::string name = c.name;
        EXPECT_EQ(coder.block.dwFlags, coded.empty() ? 0u : key_frame_flag) << name;
        if (coded.empty()) {
            EXPECT_EQ(c.type, 0) << name;
            continue;
        }
        EXPECT_EQ(coded[0], c.type) << name;
        EXPECT_EQ(coded.size(), c.size) << name;
        EXPECT_EQ(fnv1a(coded), c.hash) << name;
    }
}

// The median predictor: `predict` is the median of left, above and the
// gradient, and every form the filter loops run gives what it gives for
// every triple of neighbours, with a residual added where the form adds one.
static_assert(predict(10, 200, 5) == 200 && predict(10, 200, 250) == 10 && predict(10, 200, 100) == 110);

// The four bytes of a word, as a pixel's or the planes' samples are held.
std::uint32_t bytes4(int x, int y, int z, int w) { return std::uint32_t(x | y << 8 | z << 16 | w << 24); }

TEST(Median, EveryFormGivesThePredictionForEveryTriple)
{
    int wrong = 0;
    for (int l = 0; l < 256; ++l) {
        for (int a = 0; a < 256; ++a) {
            for (int c = 0; c < 256; ++c) {
                int three[] = {l, a, l + a - c};
                std::sort(three, three + 3);
                const int p = predict(l, a, c);
                wrong += p != three[1];
                wrong += predict_bytes(static_cast<unsigned char>(l), static_cast<unsigned char>(a),
                                       static_cast<unsigned char>(c)) != p;
                // Each byte of a word a triple of its own, and a residual
                // that wraps the sum.
                const int r = (l * 7 + a * 3 + c) & 255;
                const std::uint32_t left = bytes4(l, a, c, l);
                const std::uint32_t above = bytes4(a, c, l, c);
                const std::uint32_t upper_left = bytes4(c, l, a, a);
                const std::uint32_t expected = bytes4((r + p) & 255, (r + predict(a, c, l)) & 255,
                                                      (r + predict(c, l, a)) & 255, (r + predict(l, c, a)) & 255);
                wrong += rebuild_word(left, above, upper_left, bytes4(r, r, r, r)) != expected;
#ifdef REELPACK_SSE2
                auto reg = [](std::uint32_t v) { return _mm_cvtsi32_si128(static_cast<int>(v)); };
                const __m128i got = rebuild_pixel(reg(left), reg(above), reg(upper_left), reg(bytes4(r, r, r, r)));
                wrong += static_cast<std::uint32_t>(_mm_cvtsi128_si32(got)) != expected;
                auto all = [](int v) { return _mm_set1_epi8(static_cast<char>(v)); };
                const __m128i same = _mm_cmpeq_epi8(predict_16(all(l), all(a), all(c)), all(p));
                wrong += _mm_movemask_epi8(same) != 0xFFFF;
#endif
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}
TEST(TarvicFrames, TheCodecChoosesTheFrameType)
{
    // A one-colour raw movie frame is told in the frame pixel order.
    Coder raw(8, 4);
    raw.codec.input_order = PixelOrder::movie;
    EXPECT_EQ(raw.code(solid(32, {9, 8, 7})), (Bytes{6, 7, 8, 9}));

    // Null frames off: a repeat is coded in full and not kept, so turned on
    // again it is compared only once it has been kept.
    Coder n(8, 8);
    const Bytes frame = picture("noise", 8, 8, 3, 3);
    EXPECT_FALSE(n.code(frame).empty());
    n.codec.detect_null_frames = 1;
    EXPECT_FALSE(n.code(frame).empty());
    EXPECT_TRUE(n.code(frame).empty());
}

// A frame with `bytes` bytes from `at` on set to v, least significant first.
Bytes changed(Bytes b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i) {
        b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
    }
    return b;
}

// Damaged frames are refused, by the frame decoder and by the library
// under the same number, and leave the last good picture (black before the
// first); the stream goes on after them.
TEST(TarvicFrames, DamagedFramesAreRefusedAndLeaveThePicture)
{
    const Bytes coded = Coder(16, 12).code(picture("photo", 16, 12, 3, 5));
    auto with = [&](std::size_t at, std::uint32_t v) { return changed(coded, at, v); };
    // The first channel's level byte, and at levels 1 to 3 its zero-run length.
    auto run_length = [&](unsigned char level, std::uint32_t n) {
        Bytes b = with(10, n);
        b[9] = level;
        return b;
    };
    const std::uint32_t second = get_le32(&coded[1]);
    const std::uint32_t third = get_le32(&coded[5]);
    std::vector<std::pair<Bytes, Status>> damaged = {
        {with(1, third + 1), Status::bad_offsets}, {with(5, second - 1), Status::bad_offsets},
        {with(1, 0xFFFFFFF0u), Status::bad_offsets}, {with(1, 3), Status::bad_offsets},
        {run_length(7, get_le32(&coded[10])), Status::bad_level}, {{5, 1, 2}, Status::truncated},
        {{6, 1, 2, 3, 4}, Status::truncated},      {{9, 1, 2, 3, 4}, Status::bad_type},
        {{8, 0, 0, 0, 0}, Status::bad_type},       {{4, 0, 0}, Status::truncated},
        {{7}, Status::bad_type},                   {with(10, get_le32(&coded[10]) ^ 0xFFu), Status::bad_table},
        {run_length(1, 0), Status::bad_stream},    {run_length(2, 16 * 12 + 1), Status::bad_stream},
        {{0, 0xA5, 0xA5}, Status::bad_type},       {{255, 0xA5}, Status::bad_type},
    };
    // Cut short within the channels: any refusal will do (Status::ok).
    for (std::size_t cut : {std::size_t(20), coded.size() / 2, coded.size() - 3}) {
        damaged.push_back({Bytes(coded.begin(), coded.begin() + long(cut)), Status::ok});
    }
    // 32-bit pictures: a one-colour frame with alpha is exactly five bytes.
    std::vector<std::pair<Bytes, Status>> deep = {{{9, 1, 2, 3, 4, 5}, Status::truncated},
                                                  {{9, 1, 2, 3}, Status::truncated},
                                                  {{5, 1}, Status::bad_type},
                                                  {{4, 0, 0, 0, 0, 0}, Status::bad_type}};
    const Bytes good32 = {9, 1, 2, 3, 4};
    // Planes: a 10 x 6 4:2:2 picture, whose channel 1 starts at byte 11.
    const Bytes planes = Coder(10, 6, 8, false, false, PlaneLayout::yuv422)
                             .code(planes_picture("photo", PlaneLayout::yuv422, 10, 6, 5));
    auto planes_with = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
        return changed(planes, at, v, bytes);
    };
    const std::uint32_t o2 = get_le32(&planes[3]);
    const std::uint32_t o3 = get_le32(&planes[7]);
    std::vector<std::pair<Bytes, Status>> planar = {
        {planes_with(3, o3 + 1), Status::bad_offsets},   {planes_with(7, o2 - 1), Status::bad_offsets},
        {planes_with(3, 10), Status::bad_offsets},       {planes_with(7, 0xFFFFFFF0u), Status::bad_offsets},
        {planes_with(1, 4, 1), Status::bad_type},        {planes_with(2, 10, 1), Status::bad_type},
        {planes_with(11, 7, 1), Status::bad_level},         {Bytes(planes.begin(), planes.begin() + 9), Status::truncated},
        {{11, 3, 8, 1, 2}, Status::truncated},           {{11, 3, 8, 1, 2, 3, 4}, Status::truncated},
        {{11, 4, 8, 1, 2, 3, 4}, Status::bad_type},      {{10, 3}, Status::truncated},
        {{4, 0, 0, 0, 0, 0, 0, 0, 0}, Status::bad_type}, {{8, 0, 0, 0, 0}, Status::bad_type},
        {{6, 1, 2, 3}, Status::bad_type},                {{9, 1, 2, 3, 4}, Status::bad_type},
    };
    for (std::size_t cut : {std::size_t(20), planes.size() / 2, planes.size() - 3}) {
        planar.push_back({Bytes(planes.begin(), planes.begin() + long(cut)), Status::ok});
    }
    // 10-bit RGB, 10 x 6, type 12: six channels, the G, B and R low bytes
    // as prefix streams from byte 23 (form, lengths, then at 152 the parts'
    // lengths), then the high bytes as a group, whose offsets o2 to o6 lie
    // at bytes 3, 7, 11, 15 and 19.
    const PlaneLayout gbr444 = PlaneLayout::gbr444;
    const Bytes rgb = Coder(10, 6, 10, false, false, gbr444).code(planes_picture("photo", gbr444, 10, 6, 5, 10));
    auto rgb_with = [&](std::size_t at, std::uint32_t v, int bytes = 4) { return changed(rgb, at, v, bytes); };
    const std::uint32_t o5 = get_le32(&rgb[15]);
    const std::uint32_t o6 = get_le32(&rgb[19]);
    std::vector<std::pair<Bytes, Status>> deep_planes = {
        {rgb_with(2, 16, 1), Status::bad_type},          {rgb_with(2, 8, 1), Status::bad_type},
        {rgb_with(1, 4, 1), Status::bad_type},           {rgb_with(15, o6 + 1), Status::bad_offsets},
        {rgb_with(19, o5 - 1), Status::bad_offsets},     {rgb_with(3, 22), Status::bad_offsets},
        {rgb_with(19, std::uint32_t(rgb.size()) + 1), Status::bad_offsets},
        {Bytes(rgb.begin(), rgb.begin() + 22), Status::truncated},
        {{11, 3, 10, 0, 4, 0, 0, 0, 0}, Status::bad_stream},  // 1024 in a 10-bit plane
        {{11, 3, 10, 0, 0, 0, 0, 0, 0x80}, Status::bad_stream},
        {{11, 3, 10, 1, 2, 3}, Status::truncated},       {{11, 3, 10, 1, 0, 2, 0, 3, 0, 4}, Status::truncated},
        {{11, 3, 16, 1, 0, 2, 0, 3, 0}, Status::bad_type},
        {rgb_with(23, 2, 1), Status::bad_stream},        {rgb_with(24, 0xDD, 1), Status::bad_table},
        {rgb_with(23 + 129, 0xFFFF), Status::bad_offsets},
    };
    // Cut short in the first group and in the second.
    for (std::size_t cut : {std::size_t(o5 - 3), std::size_t(o6 + 2), rgb.size() - 3}) {
        deep_planes.push_back({Bytes(rgb.begin(), rgb.begin() + long(cut)), Status::ok});
    }
    planar.push_back({rgb, Status::bad_type});
    planar.push_back({changed(planes, 0, 12, 1), Status::bad_type});  // 8-bit planes are never prefix coded
    damaged.push_back({{11, 3, 8, 1, 2, 3}, Status::bad_type});
    damaged.push_back({planes, Status::bad_type});
    struct Stream {
        int w, h, bits;
        PlaneLayout layout;
        tarvic_layout library_layout;
        const Bytes* good;
        const std::vector<std::pair<Bytes, Status>>* frames;
    };
    for (const Stream& s : {Stream{16, 12, 24, {}, TARVIC_BGR24, &coded, &damaged},
                            {4, 4, 32, {}, TARVIC_BGRA32, &good32, &deep},
                            {10, 6, 8, PlaneLayout::yuv422, TARVIC_YUV422P8, &planes, &planar},
                            {10, 6, 10, gbr444, TARVIC_GBRP10, &rgb, &deep_planes}}) {
        const bool in_planes = s.layout != PlaneLayout{};
        TarvicDecoder decoder;
        tarvic_decoder* library = nullptr;
        ASSERT_EQ(in_planes ? decoder.BeginPlanes(s.w, s.h, s.layout, s.bits)
                            : decoder.DecompressBegin(s.w, s.h, s.bits),
                  Status::ok);
        ASSERT_EQ(tarvic_decoder_create_layout(s.w, s.h, s.library_layout, &library), TARVIC_OK);
        // The picture's planes packed, or its packed pixels as one plane.
        const PlaneShape shape = in_planes ? decoder.shape : PlaneShape{1, {s.w * s.bits / 8}, s.h, 8};
        auto decode = [&](const Bytes& frame, Bytes& picture) {
            const PlanePicture into = packed_picture(shape, picture.data());
            return in_planes ? decoder.DecompressPlanes(frame.data(), frame.size(), into)
                             : decoder.Decompress(frame.data(), frame.size(), picture.data());
        };
        auto library_decode = [&](const Bytes& frame, Bytes& picture) {
            const PlanePicture into = packed_picture(shape, picture.data());
            void* const to[4] = {into.plane[0], into.plane[1], into.plane[2], into.plane[3]};
            return int(tarvic_decode_planes(library, frame.empty() ? nullptr : frame.data(), frame.size(), to,
                                            into.stride));
        };
        const Bytes previous(planes_bytes(shape), 0x42);
        Bytes last = previous;
        Bytes black(last.size(), 0);
        if (in_planes) {
            fill_layout_black(s.layout, shape, packed_picture(shape, black.data()));
        }
        ASSERT_EQ(library_decode({}, last), TARVIC_OK);
        EXPECT_EQ(last, black);
        ASSERT_EQ(library_decode(*s.good, last), TARVIC_OK);
        Bytes out = previous;
        for (const auto& [frame, status] : *s.frames) {
            const Status got = decode(frame, out);
            EXPECT_TRUE(status == Status::ok ? got != Status::ok : got == status) << frame.size() << " " << int(got);
            Bytes picture(last.size(), 0x77);
            EXPECT_EQ(library_decode(frame, picture), int(got));
            EXPECT_TRUE(picture == last);
        }
        EXPECT_EQ(out, previous);
        EXPECT_EQ(decode(*s.good, out), Status::ok);
        tarvic_decoder_destroy(library);
    }
}

}  // namespace
