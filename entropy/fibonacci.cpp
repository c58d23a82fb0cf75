#include "entropy/fibonacci.h"

#include <cstdint>

namespace {

// The Fibonacci table; bit lengths 1 to 32 need its first seven entries.
constexpr unsigned fibonacci[8] = {1, 2, 3, 5, 8, 13, 21, 34};
constexpr int max_code_digits = 7;
constexpr unsigned max_bit_length = 32;

// Bits go most significant first; each new byte is cleared as it is reached.
struct BitWriter {
    unsigned char* out;
    unsigned byte = 0;
    int bit = 7;

    void put(unsigned b)
    {
        out[byte] |= static_cast<unsigned char>(b << bit);
        if (--bit < 0) {
            bit = 7;
            out[++byte] = 0;
        }
    }
    unsigned bytes_used() const { return byte + (bit != 7 ? 1 : 0); }
};

unsigned bit_length(std::uint32_t v)
{
    unsigned length = 0;
    while (v != 0) {
        ++length;
        v >>= 1;
    }
    return length;
}

// The Fibonacci code of the bit length (Zeckendorf digits from the smallest
// entry up, then a closing 1), then the value's digits below its top bit.
void put_number(BitWriter& w, std::uint32_t v)
{
    const unsigned length = bit_length(v);
    unsigned digits = 0;
    int top = 0;
    unsigned rest = length;
    for (int k = 7; k >= 0; --k) {
        if (fibonacci[k] <= rest) {
            rest -= fibonacci[k];
            digits |= 1u << k;
            if (top == 0) {
                top = k;
            }
        }
    }
    for (int k = 0; k <= top; ++k) {
        w.put((digits >> k) & 1u);
    }
    w.put(1);
    for (int b = static_cast<int>(length) - 2; b >= 0; --b) {
        w.put((v >> b) & 1u);
    }
}

// Reads bits until the input ends; then `ran_out` is set and stays set.
struct BitReader {
    const unsigned char* in;
    std::size_t size;
    std::size_t byte = 0;
    int bit = 7;
    bool ran_out = false;

    unsigned get()
    {
        if (byte >= size) {
            ran_out = true;
            return 0;
        }
        const unsigned b = (in[byte] >> bit) & 1u;
        if (--bit < 0) {
            bit = 7;
            ++byte;
        }
        return b;
    }
    unsigned bytes_used() const { return static_cast<unsigned>(byte + (bit != 7 ? 1 : 0)); }
};

Status get_number(BitReader& r, std::uint32_t& value)
{
    unsigned length = 0;
    unsigned previous = 0;
    for (int k = 0;; ++k) {
        const unsigned b = r.get();
        if (r.ran_out) {
            return Status::truncated;
        }
        if (b != 0 && previous != 0) {
            break;
        }
        if (k == max_code_digits) {
            return Status::bad_table;
        }
        if (b != 0) {
            length += fibonacci[k];
        }
        previous = b;
    }
    if (length == 0 || length > max_bit_length) {
        return Status::bad_table;
    }
    std::uint32_t v = 1;
    for (unsigned j = 1; j < length; ++j) {
        v = (v << 1) | r.get();
    }
    if (r.ran_out) {
        return Status::truncated;
    }
    value = v;
    return Status::ok;
}

}  // namespace

unsigned int FibonacciEncode2(const unsigned int* values, unsigned char* out, unsigned int count)
{
    out[0] = 0;
    BitWriter w{out};
    unsigned i = 0;
    while (i < count) {
        put_number(w, values[i] + 1);
        if (values[i] == 0) {
            unsigned run = 1;
            while (i + run < count && values[i + run] == 0) {
                ++run;
            }
            put_number(w, run);
            i += run;
        } else {
            ++i;
        }
    }
    return w.bytes_used();
}

Status FibonacciDecode2(const unsigned char* in, std::size_t in_size, unsigned int* values, unsigned int count,
                        unsigned int* consumed)
{
    BitReader r{in, in_size};
    unsigned i = 0;
    while (i < count) {
        std::uint32_t v = 0;
        Status status = get_number(r, v);
        if (status != Status::ok) {
            return status;
        }
        values[i] = v - 1;
        if (values[i] != 0) {
            ++i;
            continue;
        }
        std::uint32_t run = 0;
        status = get_number(r, run);
        if (status != Status::ok) {
            return status;
        }
        // A run that would pass the table's last entry ends there.
        if (run > count - i) {
            run = count - i;
        }
        for (unsigned j = 1; j < run; ++j) {
            values[i + j] = 0;
        }
        i += run;
    }
    *consumed = r.bytes_used();
    return Status::ok;
}
