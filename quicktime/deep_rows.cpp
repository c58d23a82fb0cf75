#include "quicktime/deep_rows.h"

#include <cstring>

const DeepRows rows_v210 = {3, {0xFF, 0xFF, 0xFF, 0x3F}, true};
const DeepRows rows_v410 = {1, {0xFC, 0xFF, 0xFF, 0xFF}, false};
const DeepRows rows_r210 = {1, {0x3F, 0xFF, 0xFF, 0xFF}, false};
const DeepRows rows_r10k = {1, {0xFF, 0xFF, 0xFF, 0xFC}, false};
const DeepRows rows_avrp = {1, {0xFC, 0xFF, 0xFF, 0xFF}, false};

int row_samples(const DeepRows& rows, int width)
{
    // Cb Y' Cr Y' repeated: at an odd width the row ends after the last
    // pair's Cr, the Y' that would follow it lying past the picture.
    return rows.y_and_chroma_pairs ? 2 * width + (width & 1) : width;
}

void deep_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
               int rows)
{
    const DeepRows& deep = *layout.format->deep;
    const int samples = row_samples(deep, layout.width);
    const std::size_t whole = std::size_t(samples / deep.word_samples);
    const int rest = samples % deep.word_samples;
    // The mask is the word's bytes as stored, so one AND of the word read
    // in the host's order clears the same bits whatever that order is.
    std::uint32_t keep;
    std::memcpy(&keep, deep.keep, 4);
    // A word holding fewer samples than it may keeps only its first ones,
    // the low bits of a little-endian word.
    const std::uint32_t low = (std::uint32_t(1) << (10 * rest)) - 1;
    const unsigned char part[4] = {static_cast<unsigned char>(low), static_cast<unsigned char>(low >> 8),
                                   static_cast<unsigned char>(low >> 16), static_cast<unsigned char>(low >> 24)};
    std::uint32_t keep_part;
    std::memcpy(&keep_part, part, 4);
    for (int r = first_row; r < first_row + rows; ++r) {
        const unsigned char* from = stored + layout.stride * std::size_t(r);
        unsigned char* to = destination + layout.row_bytes * std::size_t(r - first_row);
        for (std::size_t k = 0; k < whole; ++k) {
            std::uint32_t word;
            std::memcpy(&word, from + 4 * k, 4);
            word &= keep;
            std::memcpy(to + 4 * k, &word, 4);
        }
        std::size_t used = 4 * whole;
        if (rest > 0) {
            std::uint32_t word;
            std::memcpy(&word, from + used, 4);
            word &= keep_part;
            std::memcpy(to + used, &word, 4);
            used += 4;
        }
        std::memset(to + used, 0, layout.row_bytes - used);
    }
}
