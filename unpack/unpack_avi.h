// The uncompressed AVI file that reelunpack writes: to a named file as the
// writer writes any, or to standard output in one forward pass whose
// header, super indexes, RIFF sizes and counts are right from the first
// byte, so that a program reading the pipe needs to be told nothing.
#pragma once

#include <cstddef>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

// Writes the sound chunks of `input` (the file that `layout` describes)
// that come before frame `frame`, from chunk `next` on, so that they lie
// between the same frames as there; none when the writer has no sound.
bool write_sound_before(AviWriter& writer, const unsigned char* input, const AviLayout& layout, std::size_t& next,
                        std::size_t frame);

// Opens the output, `path` or "-" for standard output, and writes its
// header, for the file's frames as `video` says and its sound of `sound`
// (or none). For standard output the writes of the whole file are
// rehearsed first, which needs no frame decoded: every frame has one size,
// whatever its pixels, and every sound chunk the size the input gives it;
// `picture` is a frame buffer (with the writer's avi_frame_room) that
// the rehearsal may use. Returns false after saying why on standard error.
bool open_avi_output(AviWriter& writer, const char* path, const unsigned char* input, const AviLayout& layout,
                     const AviSound* sound, unsigned char* picture, const AviVideo& video);
