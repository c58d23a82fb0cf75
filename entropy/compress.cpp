#include "entropy/compress.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/byte_order.h"
#include "entropy/fibonacci.h"
#include "entropy/zero.h"

namespace {

// A channel made ready for its range coder: the stream's level, size and
// count table are written, and the coder goes at `coded`, on the table's
// last byte, which is kept and put back afterwards: the coder's first byte
// is always 0 and is not stored.
struct Channel {
    const unsigned char* symbols;
    std::size_t n;
    unsigned char* coded;
    unsigned char kept;
    unsigned int head;  // the stream's bytes before the coded ones, the kept byte excluded
};

Channel plan_channel(const unsigned char* in, unsigned int length, unsigned char* out, unsigned char* run,
                     RangeTable& table, unsigned int* counts)
{
    unsigned int threshold = length / 1000;
    if (threshold < 16) {
        threshold = 16;
    }
    const int level = zero::testRLE(in, static_cast<int>(length), static_cast<int>(threshold));
    Channel channel;
    out[0] = static_cast<unsigned char>(level);
    unsigned int table_at = 1;
    if (level == 0) {
        channel.symbols = in;
        channel.n = length;
    } else {
        channel.symbols = run;
        channel.n = static_cast<std::size_t>(zero::RLE(in, run, static_cast<int>(length), level));
        put_le32(out + 1, static_cast<std::uint32_t>(channel.n));
        table_at = 5;
    }
    count_bytes(channel.symbols, channel.n, counts);
    build_shares(counts, channel.n, table.prob, table.bits);
    prepare_table(table, false);
    const unsigned int m = FibonacciEncode2(counts, out + table_at, 256);
    channel.coded = out + table_at - 1 + m;
    channel.kept = *channel.coded;
    channel.head = table_at + m;
    return channel;
}

unsigned int finish_channel(const Channel& channel, std::size_t emitted)
{
    *channel.coded = channel.kept;
    const unsigned int reported = channel.head + static_cast<unsigned int>(emitted);
    channel.coded[emitted] = 0;  // the last byte that the reported length covers
    return reported;
}

// A channel's 256 counts and the bytes they describe (their sum).
Status read_counts(const unsigned char* in, std::size_t in_size, unsigned int* counts, unsigned int* consumed,
                   std::uint64_t* sum)
{
    const Status status = FibonacciDecode2(in, in_size, counts, 256, consumed);
    *sum = 0;
    for (int v = 0; v < 256 && status == Status::ok; ++v) {
        *sum += counts[v];
    }
    return status;
}

// The channel's zero-run level and coded length, and its table read and
// checked against the length it must describe; `coded` is where its range
// decoder starts.
struct Source {
    unsigned level;
    std::size_t n;
    const unsigned char* coded;
    std::size_t coded_size;
};

Status read_channel(const unsigned char* in, std::size_t in_size, unsigned int length, RangeTable& table,
                    Source& source)
{
    if (in_size < 1) {
        return Status::truncated;
    }
    source.level = in[0];
    if (source.level > 3) {
        return Status::bad_level;
    }
    unsigned int table_at = 1;
    source.n = length;
    if (source.level != 0) {
        if (in_size < 5) {
            return Status::truncated;
        }
        // No encoder writes an empty zero-run form, nor one longer than
        // its channel, which is the room it is decoded into.
        const std::uint32_t n = get_le32(in + 1);
        if (n == 0 || n > length || n > 0x7FFFFFFFu) {
            return Status::bad_stream;
        }
        source.n = n;
        table_at = 5;
    }
    unsigned int decoded[256];
    unsigned int m = 0;
    std::uint64_t sum = 0;
    const Status status = read_counts(in + table_at, in_size - table_at, decoded, &m, &sum);
    if (status != Status::ok) {
        return status;
    }
    if (sum != source.n) {
        return Status::bad_table;  // the counts describe another channel
    }
    build_shares(decoded, sum, table.prob, table.bits);
    prepare_table(table, true);
    source.coded = in + table_at - 1 + m;
    source.coded_size = in_size - (table_at - 1 + m);
    return Status::ok;
}

}  // namespace

Compress::~Compress() { FreeCompressBuffers(); }

bool Compress::InitCompressBuffers()
{
    FreeCompressBuffers();
    tables = new (std::nothrow) RangeTable[max_side_by_side];
    counts = static_cast<unsigned int*>(std::malloc(256 * sizeof(unsigned int)));
    if (tables == nullptr || counts == nullptr) {
        FreeCompressBuffers();
        return false;
    }
    return true;
}

void Compress::FreeCompressBuffers()
{
    delete[] tables;
    std::free(counts);
    tables = nullptr;
    counts = nullptr;
}

void Compress::compact_side_by_side(int count, const unsigned char* const in[], const unsigned int length[],
                                    unsigned char* const out[], unsigned char* const scratch[],
                                    unsigned int reported[])
{
    if (count < 1 || count > max_side_by_side) {
        return;
    }
    Channel channels[max_side_by_side] = {};
    const RangeTable* channel_tables[max_side_by_side] = {};
    const unsigned char* symbols[max_side_by_side] = {};
    std::size_t n[max_side_by_side] = {};
    unsigned char* coded[max_side_by_side] = {};
    for (int c = 0; c < count; ++c) {
        channels[c] = plan_channel(in[c], length[c], out[c], scratch[c], tables[c], counts);
        channel_tables[c] = &tables[c];
        symbols[c] = channels[c].symbols;
        n[c] = channels[c].n;
        coded[c] = channels[c].coded;
    }
    std::size_t emitted[max_side_by_side] = {};
    range_encode_side_by_side(count, channel_tables, symbols, n, coded, emitted);
    for (int c = 0; c < count; ++c) {
        reported[c] = finish_channel(channels[c], emitted[c]);
    }
}

Status Compress::uncompact_side_by_side(int count, const unsigned char* const in[], const std::size_t in_size[],
                                        unsigned char* const out[], const unsigned int length[],
                                        unsigned char* const scratch[])
{
    if (count < 1 || count > max_side_by_side) {
        return Status::bad_size;
    }
    Source sources[max_side_by_side] = {};
    const RangeTable* channel_tables[max_side_by_side] = {};
    const unsigned char* coded[max_side_by_side] = {};
    std::size_t coded_size[max_side_by_side] = {};
    unsigned char* decoded[max_side_by_side] = {};
    std::size_t n[max_side_by_side] = {};
    int coding = 0;  // channels with bytes to range-decode
    for (int c = 0; c < count; ++c) {
        const Status status = read_channel(in[c], in_size[c], length[c], tables[c], sources[c]);
        if (status != Status::ok) {
            return status;
        }
        if (sources[c].n == 0) {
            continue;  // an empty channel codes nothing
        }
        channel_tables[coding] = &tables[c];
        coded[coding] = sources[c].coded;
        coded_size[coding] = sources[c].coded_size;
        decoded[coding] = sources[c].level == 0 ? out[c] : scratch[c];
        n[coding] = sources[c].n;
        ++coding;
    }
    const Status status = range_decode_side_by_side(coding, channel_tables, coded, coded_size, decoded, n);
    if (status != Status::ok) {
        return status;
    }
    for (int c = 0; c < count; ++c) {
        if (sources[c].level != 0 && zero::deRLE(scratch[c], static_cast<int>(sources[c].n), out[c],
                                                 static_cast<int>(length[c]), static_cast<int>(sources[c].level)) < 0) {
            return Status::bad_stream;
        }
    }
    return Status::ok;
}
