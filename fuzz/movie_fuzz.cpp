// The QuickTime header reading and frame indexing of reelpack, on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "driver/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = size > 0 ? ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb") : nullptr;
    MovieSource source;
    source.window = data;
    source.window_bytes = size < header_window_size ? size : header_window_size;
    source.file_size = size;
    source.file = file;
    MovieInfo info;
    FrameTable table;
    if (index_movie(source, info, table, nullptr)) {
        // Walk the table as the frame pass would, a bounded part of it.
        FrameCursor cursor{table};
        std::uint64_t sum = 0;
        for (std::int32_t i = 0; i < table.total_frames && i < 100000; ++i) {
            sum += cursor.next();
        }
        (void)sum;
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return 0;
}
