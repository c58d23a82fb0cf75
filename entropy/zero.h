// The zero-run coder: shortens runs of zero bytes and leaves every other byte
// as it is. The level (1, 2 or 3) is the shortest run that becomes a run token.
// The coded form carries neither level nor length; the caller keeps both.
#pragma once

namespace zero {

// Codes `length` bytes at `level` into `out` and returns the bytes written;
// 0 when length <= 0 or the level is not 1, 2 or 3. Positions past the end of
// the block count as zero: nothing beyond in[length - 1] is ever read. `out`
// must hold `length` bytes, or the coded form where that is longer: short
// stretches of the block are copied sixteen bytes at a time within that room.
int RLE(const unsigned char* in, unsigned char* out, int length, int level);

// The level that saves the most bytes and at least `threshold`, or 0.
int testRLE(const unsigned char* in, int length, int threshold);

// Restores exactly `length` bytes into `out` from at most `in_size` coded
// bytes. Returns the coded bytes consumed, or -1 when the stream is damaged
// (it ends early, or a token passes the end of the block by more than the
// level's last run token may). Never writes past out[length - 1].
int deRLE(const unsigned char* in, int in_size, unsigned char* out, int length, int level);

}  // namespace zero
