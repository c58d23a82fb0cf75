// reelunpack: gets the pixels back out of an AVI file that reelpack wrote
// (or any AVI file with one 24-bit or 32-bit Tarvic or uncompressed video
// stream).
//
//   reelunpack <input.avi> <output.avi>   an uncompressed AVI file
//   reelunpack --avi <input.avi> -        that file on standard output
//   reelunpack <input.avi> -              raw top-down bgr24 (or bgra) frames on standard output
//   reelunpack --info <input.avi>         the stream's size, rate, frames, codec
//
// A sound stream of linear PCM goes into the AVI file as it is, chunk for
// chunk between the same frames, so that the file is the one reelpack -u
// writes; raw output is the video alone. On standard output the AVI file
// goes out in one forward pass, with every size and count right from its
// first byte (see avi/output_file.h), so that a reader of a pipe needs to
// be told nothing about it. Tarvic frames are decoded by libtarvic.
//
// Messages go to standard error, since standard output may carry pixels.
#pragma once

// The whole run, from the command line to the last frame written. Returns
// the exit status: 0 when every frame decoded, 1 for a failure or a damaged
// frame, 2 for a command line it cannot use.
int reelunpack_run(int argc, char** argv);
