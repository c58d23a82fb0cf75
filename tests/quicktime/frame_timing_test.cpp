#include "quicktime/frame_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Each frame takes the AVI frames from the period nearest its start to the
// one nearest its end, also where the period (the most common duration)
// does not divide every duration; halves round up.
TEST(FrameClock, FramesStartAtTheNearestPeriod)
{
    struct Case {
        std::uint64_t period;
        std::vector<std::uint32_t> durations;
        std::vector<std::uint64_t> avi_frames;  // of each
    };
    const std::vector<Case> cases = {
        {0, {5, 0, 7}, {1, 1, 1}},                         // no period: one AVI frame each
        {24, {24, 48, 0, 24}, {1, 2, 0, 1}},               // a common divisor: whole periods
        {100, {60, 100, 100, 100, 40}, {1, 1, 1, 1, 0}},   // starts 0, 60, 160, 260, 360; end 400
        {100, {50, 100}, {1, 1}},                          // a start at half a period
        {100, {149, 2, 49, 150}, {1, 1, 0, 2}},            // starts 0, 149, 151, 200; end 350
        {100, {7, 100, 100, 100, 100, 100}, {0, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        FrameClock clock{c.period};
        std::vector<std::uint64_t> got;
        for (const std::uint32_t duration : c.durations) {
            got.push_back(clock.frames_for(duration));
        }
        EXPECT_EQ(got, c.avi_frames) << c.period << " " << c.durations[0];
    }
}

}  // namespace
