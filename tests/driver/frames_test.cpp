// The movie's frames as the frame pass sees them: in place where the movie
// holds them whole, read and completed with zeros where it does not, and
// read again, without a crash, when the movie is cut short after it was
// mapped.
#include "driver/frames.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/pixels.h"
#include "support/files.h"

namespace {

using test::Bytes;

Bytes counting(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) {
        b[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    return b;
}

TEST(MovieFrames, WholeFramesInPlaceOthersReadAndCompleted)
{
    const std::string path = test::temp_path("frames.bin");
    const Bytes movie = counting(10000);
    test::write_file(path, movie);
    Bytes buffer(3000, 0xEE);
    MovieFrames frames;
    ASSERT_TRUE(frames.open(path.c_str(), 3000, buffer.data()));

    Bytes seen;
    auto copy = [&](const unsigned char* pixels) { seen.assign(pixels, pixels + 3000); };
    EXPECT_TRUE(frames.use_frame(5000, buffer.data(), copy));
    EXPECT_EQ(seen, Bytes(movie.begin() + 5000, movie.begin() + 8000));
    EXPECT_NE(frames.mapped(5000), nullptr);

    // The end of the frame lies past the movie's: the rest is zero.
    EXPECT_FALSE(frames.use_frame(8000, buffer.data(), copy));
    Bytes expected(movie.begin() + 8000, movie.end());
    expected.resize(3000, 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(frames.mapped(8000), nullptr);
    EXPECT_FALSE(frames.use_frame(20000, buffer.data(), copy));
    EXPECT_EQ(seen, Bytes(3000, 0));

    // Giving back the pages of frames the mapping does not hold whole
    // touches nothing beyond it; those of a whole frame go up to its end.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    frames.release(0);
    EXPECT_EQ(frames.released, 3000 / page * page);
    frames.release(8000);
    frames.release(20000);
    frames.release(0xFFFFFF00u);
    EXPECT_EQ(frames.released, 3000 / page * page);
    frames.release(5000);
    EXPECT_EQ(frames.released, 8000 / page * page);
    std::remove(path.c_str());
}

TEST(MovieFrames, AMovieCutShortAfterMappingIsReadInstead)
{
    // Large enough to span several pages, so that the lost end is a page
    // of its own in the mapping.
    const std::size_t frame = 3 * 4096 * 4;
    const std::string path = test::temp_path("cut.bin");
    const Bytes movie = counting(2 * frame);
    test::write_file(path, movie);
    Bytes buffer(frame);
    MovieFrames frames;
    ASSERT_TRUE(frames.open(path.c_str(), frame, buffer.data()));
    ASSERT_NE(frames.mapped(frame), nullptr);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(frame + 4096)), 0);

    int uses = 0;
    Bytes seen(frame);
    const bool complete = frames.use_frame(frame, buffer.data(), [&](const unsigned char* pixels) {
        ++uses;
        std::memcpy(seen.data(), pixels, frame);
    });
    EXPECT_FALSE(complete);
    EXPECT_EQ(uses, 2);  // the use that faulted, then the one on the frame read
    Bytes expected(movie.begin() + static_cast<long>(frame), movie.begin() + static_cast<long>(frame + 4096));
    expected.resize(frame, 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(frames.mapped(0), nullptr);  // the mapping is given up

    // Rows converted a piece at a time, the movie cut short in the middle.
    const int width = 4096;
    const int height = 4;
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(2 * frame)), 0);
    test::write_file(path, movie);
    MovieFrames again;
    ASSERT_TRUE(again.open(path.c_str(), frame, buffer.data()));
    const unsigned char* pixels = again.mapped(0);
    ASSERT_NE(pixels, nullptr);
    Bytes rows(3 * width);
    EXPECT_TRUE(again.guarded([&] { raw_to_BGR_rows(pixels, rows.data(), width, height, 0, 1); }));
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_FALSE(again.guarded([&] { raw_to_BGR_rows(pixels, rows.data(), width, height, 3, 1); }));
    std::remove(path.c_str());
}

}  // namespace
