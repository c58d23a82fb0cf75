// Buffers of a frame or more, acquired once and used for every frame.
//
// Their pages are the system's large pages (2 MB on x86-64) where it has
// them: every small page touched for the first time costs a fault, and for
// a frame of several megabytes those faults cost more than the work done in
// it. A block's whole large pages are asked for; its ragged end stays in
// small pages, so a block never holds more memory than its size.
#pragma once

#include <cstddef>

// `size` bytes (at least one) that std::free() gives back, or null.
[[nodiscard]] unsigned char* acquire_block(std::size_t size);
