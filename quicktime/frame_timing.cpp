#include "quicktime/frame_timing.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace {

// A track's samples as the runs hold them: each run's first sample number
// and start time, for finding samples by their times.
struct MediaSamples {
    const std::vector<FrameRun>& runs;
    std::vector<std::uint64_t> first_sample;
    std::vector<std::uint64_t> start_time;

    explicit MediaSamples(const std::vector<FrameRun>& media)
        : runs(media), first_sample(media.size() + 1), start_time(media.size() + 1)
    {
        for (std::size_t r = 0; r < runs.size(); ++r) {
            first_sample[r + 1] = first_sample[r] + runs[r].frames;
            start_time[r + 1] = start_time[r] + std::uint64_t(runs[r].frames) * runs[r].duration;
        }
    }
    std::uint64_t count() const { return first_sample.back(); }
    std::uint64_t end_time() const { return start_time.back(); }
    std::size_t run_of(std::uint64_t sample) const
    {
        return static_cast<std::size_t>(std::upper_bound(first_sample.begin(), first_sample.end(), sample) -
                                        first_sample.begin() - 1);
    }
    std::uint64_t time_of(std::uint64_t sample) const
    {
        const std::size_t r = run_of(sample);
        return start_time[r] + (sample - first_sample[r]) * runs[r].duration;
    }
    // The number of samples that start before `t` (t scaled by `scale`):
    // the smallest sample number whose start, scaled, reaches it.
    std::uint64_t starting_before(unsigned __int128 t, std::uint64_t scale) const
    {
        std::uint64_t low = 0;
        std::uint64_t high = count();
        while (low < high) {
            const std::uint64_t mid = low + (high - low) / 2;
            if (static_cast<unsigned __int128>(time_of(mid)) * scale < t) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        return low;
    }
    // Appends the runs of samples [first, last).
    void take(std::uint64_t first, std::uint64_t last, std::vector<FrameRun>& out) const
    {
        for (std::size_t r = run_of(first); first < last; ++r) {
            const FrameRun& run = runs[r];
            const std::uint64_t within = first - first_sample[r];
            const std::uint64_t take = std::min<std::uint64_t>(run.frames - within, last - first);
            out.push_back(FrameRun{run.offset + within * run.step, static_cast<std::uint32_t>(take), run.step,
                                   run.duration});
            first += take;
        }
    }
};

}  // namespace

Failure apply_edits(const std::vector<Edit>& edits, std::uint32_t movie_scale, std::uint32_t media_scale,
                    std::vector<FrameRun>& runs)
{
    const MediaSamples media(runs);
    // Edits that repeat the media many times could ask for more runs than
    // any movie needs; a generous bound keeps the table in proportion.
    const std::uint64_t most_runs = 16 * (std::uint64_t(runs.size()) + edits.size()) + 1024;
    std::vector<FrameRun> chosen;
    std::int64_t frames = 0;
    for (const Edit& edit : edits) {
        if (edit.media_time < 0 || media.count() == 0) {
            continue;  // an empty edit shows nothing of the media
        }
        const std::uint64_t media_time = static_cast<std::uint64_t>(edit.media_time);
        // The sample showing at the edit's start: the last one that starts
        // at or before it.
        if (media_time >= media.end_time() && media.end_time() > 0) {
            continue;  // the edit starts beyond the media
        }
        const std::uint64_t first = media.starting_before(static_cast<unsigned __int128>(media_time) + 1, 1) - 1;
        std::uint64_t last = media.count();
        if (edit.rate == 0) {
            last = first + 1;
        } else if (edit.duration != 0 && movie_scale != 0) {
            const unsigned __int128 end = static_cast<unsigned __int128>(media_time) * movie_scale +
                                          static_cast<unsigned __int128>(edit.duration) * media_scale;
            last = std::max(first + 1, media.starting_before(end, movie_scale));
        }
        frames += static_cast<std::int64_t>(last - first);
        if (frames > max_total_frames) {
            return movie_failure(Fault::movie_edits_too_many_frames, {max_total_frames});
        }
        media.take(first, last, chosen);
        if (chosen.size() > most_runs) {
            return movie_failure(Fault::movie_edits_too_many_runs);
        }
    }
    runs.swap(chosen);
    return {};
}

bool read_edits(const Held& held, const Atom& elst, std::vector<Edit>& edits)
{
    const bool wide = versioned(held, elst, 0, 1) == 1;
    const std::uint64_t entry = wide ? 20 : 12;
    std::uint32_t edit_count = 0;
    if (!field32(held, elst, 4, edit_count) || !table_fits(elst, 8, edit_count, entry)) {
        return false;
    }
    edits.resize(edit_count);
    for (std::uint32_t e = 0; e < edit_count; ++e) {
        const unsigned char* p = held.at(elst.body + 8 + e * entry);
        if (wide) {
            edits[e] = Edit{get_be64(p), static_cast<std::int64_t>(get_be64(p + 8)), get_be32(p + 16)};
        } else {
            edits[e] = Edit{get_be32(p), static_cast<std::int32_t>(get_be32(p + 4)), get_be32(p + 8)};
        }
    }
    return true;
}

std::uint64_t leading_time(const std::vector<Edit>& edits)
{
    std::uint64_t time = 0;
    for (const Edit& edit : edits) {
        if (edit.media_time >= 0) {
            break;
        }
        time += edit.duration;
    }
    return time;
}

FramePeriod choose_frame_period(const FrameTable& table, std::uint32_t sample_duration)
{
    std::uint64_t divisor = 0;
    std::uint64_t total_time = 0;
    std::map<std::uint32_t, std::uint64_t> frames_lasting;
    for (const FrameRun& run : table.runs) {
        divisor = std::gcd(divisor, std::uint64_t(run.duration));
        total_time += std::uint64_t(run.frames) * run.duration;
        frames_lasting[run.duration] += run.frames;
    }
    if (divisor == 0) {
        return FramePeriod{sample_duration, table.total_frames};  // no times to keep
    }
    if (total_time / divisor > 8 * std::uint64_t(table.total_frames)) {
        std::uint64_t most = 0;
        for (const auto& lasting : frames_lasting) {
            if (lasting.first != 0 && lasting.second > most) {
                most = lasting.second;
                divisor = lasting.first;
            }
        }
    }
    // The frames' AVI frame counts add up to this (see FrameClock).
    return FramePeriod{static_cast<std::uint32_t>(divisor),
                       static_cast<std::int64_t>((total_time + divisor / 2) / divisor)};
}
