#include "codec/predict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(Median, MiddleValueForEveryOrder)
{
    const int values[][3] = {{1, 2, 3}, {5, 5, 9}, {7, 7, 7}, {-40, 10, 200}, {510, -255, 0}};
    for (const auto& v : values) {
        int sorted[3] = {v[0], v[1], v[2]};
        std::sort(sorted, sorted + 3);
        const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
        for (const auto& o : orders) {
            EXPECT_EQ(median(v[o[0]], v[o[1]], v[o[2]]), sorted[1]);
        }
    }
}

TEST(Median, ThePredictorIsTheMedianOfLeftAboveAndGradient)
{
    EXPECT_EQ(predict(10, 200, 5), 200);
    EXPECT_EQ(predict(10, 200, 250), 10);
    EXPECT_EQ(predict(10, 200, 100), 110);
    for (int l = 0; l < 256; l += 5) {
        for (int a = 0; a < 256; a += 7) {
            for (int c = 0; c < 256; c += 3) {
                ASSERT_EQ(predict(l, a, c), median(l, a, l + a - c)) << l << " " << a << " " << c;
            }
        }
    }
}

Bytes filtered(Bytes frame, int width, int height)
{
    Bytes out(frame.size());
    DeEntropy(frame.data(), out.data(), width, height);
    return out;
}

TEST(DeEntropy, DecorrelatesThenPredicts)
{
    // One pixel (b, g, r) repeated: (b - g, g, r - g), then zeros.
    const Bytes pixel = {0x50, 0x30, 0x10};
    Bytes frame;
    for (int i = 0; i < 12; ++i) {
        frame.insert(frame.end(), pixel.begin(), pixel.end());
    }
    Bytes expected(frame.size(), 0);
    expected[0] = 0x20;
    expected[1] = 0x30;
    expected[2] = 0xE0;
    EXPECT_EQ(filtered(frame, 4, 3), expected);
    EXPECT_EQ(filtered(frame, 12, 1), expected);
    EXPECT_EQ(filtered(frame, 1, 12), expected);

    // One row: each pixel from its left neighbour, and a residual below 0
    // wraps: 3 predicted by 5 is 254.
    const Bytes row = {5, 0, 5, 3, 0, 3, 9, 0, 1};
    EXPECT_EQ(filtered(row, 3, 1), (Bytes{5, 0, 5, 254, 0, 254, 6, 0, 254}));

    // One column: every pixel from the one above.
    const Bytes column = {1, 0, 2, 4, 0, 8, 3, 0, 1};
    EXPECT_EQ(filtered(column, 1, 3), (Bytes{1, 0, 2, 3, 0, 6, 255, 0, 249}));

    // Identical rows: everything after the first row is 0, the first pixel
    // of each row included.
    Bytes rows;
    for (int y = 0; y < 4; ++y) {
        rows.insert(rows.end(), {10, 20, 30, 40, 50, 60, 70, 80, 90});
    }
    const Bytes r = filtered(rows, 3, 4);
    for (std::size_t i = 9; i < r.size(); ++i) {
        EXPECT_EQ(r[i], 0) << i;
    }
}

TEST(DeEntropy, SecondRowStartsFromAboveAndLaterRowsFromTheLeftOfTheRowBefore)
{
    // Green only (bytes 0 and 2 stay 0 after decorrelation when equal to
    // green): a 2 x 3 frame of grey values g.
    const int g[6] = {10, 20, 30, 60, 200, 5};
    Bytes frame;
    for (int v : g) {
        frame.insert(frame.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(v), static_cast<unsigned char>(v)});
    }
    const Bytes d = filtered(frame, 2, 3);
    EXPECT_EQ(d[1], 10);
    EXPECT_EQ(d[4], 10);                                               // 20 - 10, from the left
    EXPECT_EQ(d[7], 20);                                               // 30 - 10, from above
    EXPECT_EQ(d[10], static_cast<unsigned char>(60 - median(30, 20, 30 + 20 - 10)));
    // The third row's first pixel: left is the last pixel of the second row,
    // upper-left the last pixel of the first.
    EXPECT_EQ(d[13], static_cast<unsigned char>(200 - median(60, 30, 60 + 30 - 20)));
    for (int k : {0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17}) {
        EXPECT_EQ(d[k], 0) << k;
    }
}

TEST(DeEntropy, ReEntropyInvertsEveryFilter)
{
    std::mt19937 random(3);
    for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {7, 1}, {1, 7}, {13, 17}, {64, 2}}) {
        Bytes frame(static_cast<std::size_t>(w) * h * 3);
        for (auto& b : frame) {
            b = static_cast<unsigned char>(random());
        }
        Bytes copy = frame;
        Bytes res(frame.size());
        DeEntropy(copy.data(), res.data(), w, h);
        Bytes back(frame.size());
        ReEntropy(res.data(), back.data(), w, h);
        EXPECT_EQ(back, frame) << w << "x" << h;

        Bytes frame32(static_cast<std::size_t>(w) * h * 4);
        for (auto& b : frame32) {
            b = static_cast<unsigned char>(random());
        }
        Bytes copy32 = frame32;
        Bytes res32(frame32.size());
        DeEntropy32(copy32.data(), res32.data(), w, h);
        Bytes back32(frame32.size());
        ReEntropy32(res32.data(), back32.data(), w, h);
        EXPECT_EQ(back32, frame32) << w << "x" << h;

        Bytes plane(static_cast<std::size_t>(w) * h);
        for (auto& b : plane) {
            b = static_cast<unsigned char>(random());
        }
        Bytes pres(plane.size());
        blockDeEntropy(plane.data(), pres.data(), w, static_cast<int>(plane.size()));
        Bytes pback(plane.size());
        blockReEntropy(pres.data(), pback.data(), w, static_cast<int>(plane.size()));
        EXPECT_EQ(pback, plane);
    }
}

// Frames of every shape that the plane filters treat apart (one row, one
// column, a second row, rows of many widths) and of contents that take
// every branch of the predictor: noise, ramps and flat areas.
std::vector<std::pair<int, int>> shapes()
{
    return {{1, 1}, {2, 1}, {1, 2}, {5, 1}, {1, 9}, {3, 2}, {7, 3}, {13, 17}, {64, 5}, {33, 31}, {640, 9}};
}

Bytes picture(int w, int h, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes frame(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const unsigned r = random();
        const unsigned ramp = (i / 3) % 251 + r % 3;
        const unsigned flat = r % 7 == 0 ? r >> 8 : 128;
        frame[i] = static_cast<unsigned char>(seed % 3 == 0 ? r : seed % 3 == 1 ? ramp : flat);
    }
    return frame;
}

TEST(DeEntropyPlanes, AreTheSplitResidualsOfDeEntropy)
{
    for (auto [w, h] : shapes()) {
        for (unsigned seed = 0; seed < 3; ++seed) {
            const Bytes frame = picture(w, h, seed);
            const std::size_t n = static_cast<std::size_t>(w) * h;
            Bytes copy = frame;
            Bytes interleaved(frame.size());
            DeEntropy(copy.data(), interleaved.data(), w, h);
            Bytes expected(frame.size());
            split_planes(interleaved.data(), expected.data(), n, 3);

            Bytes sources(frame.size());
            Bytes planes(frame.size());
            DeEntropyPlanes(frame.data(), PixelOrder::frame, sources.data(), planes.data(), w, h);
            EXPECT_EQ(planes, expected) << w << "x" << h << " seed " << seed;

            // The same frame as a raw movie holds it: rows top down, red first.
            Bytes movie(frame.size());
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const unsigned char* from = &frame[(static_cast<std::size_t>(h - 1 - y) * w + x) * 3];
                    unsigned char* to = &movie[(static_cast<std::size_t>(y) * w + x) * 3];
                    to[0] = from[2];
                    to[1] = from[1];
                    to[2] = from[0];
                }
            }
            DeEntropyPlanes(movie.data(), PixelOrder::movie, sources.data(), planes.data(), w, h);
            EXPECT_EQ(planes, expected) << "movie order " << w << "x" << h << " seed " << seed;

            Bytes back(frame.size());
            Bytes scratch(ReEntropyPlanesScratch(w));
            ReEntropyPlanes(expected.data(), scratch.data(), back.data(), false, w, h);
            EXPECT_EQ(back, frame) << w << "x" << h << " seed " << seed;
            ReEntropyPlanes(expected.data(), scratch.data(), back.data(), true, w, h);
            for (int y = 0; y < h; ++y) {
                const std::size_t row = static_cast<std::size_t>(w) * 3;
                ASSERT_TRUE(std::equal(back.begin() + static_cast<long>(y * row),
                                       back.begin() + static_cast<long>((y + 1) * row),
                                       frame.begin() + static_cast<long>((h - 1 - y) * row)))
                    << "top down " << w << "x" << h << " row " << y;
            }
        }
    }
}

TEST(BlockDeEntropy, TheFirstSampleOfTheSecondRowComesFromTheLeft)
{
    const Bytes plane = {10, 20, 30, 35, 50, 70};  // rows of 3
    Bytes d(6);
    blockDeEntropy(plane.data(), d.data(), 3, 6);
    EXPECT_EQ(d[0], 10);
    EXPECT_EQ(d[1], 10);
    EXPECT_EQ(d[2], 10);
    EXPECT_EQ(d[3], 5);  // 35 - 30, its left neighbour
    EXPECT_EQ(d[4], static_cast<unsigned char>(50 - median(35, 20, 35 + 20 - 10)));
    EXPECT_EQ(d[5], static_cast<unsigned char>(70 - median(50, 30, 50 + 30 - 20)));
}

}  // namespace
