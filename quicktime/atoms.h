// The atoms of a QuickTime movie and their bounds: where the movie's bytes
// come from, the parts of the file held in memory, the walk over an atom's
// children by their sizes (never by a scan), and field reads that first
// check that the atom holds the field. Every size and count is checked
// against the bytes really there before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/failure.h"

// Where the movie's bytes come from: the whole file in memory, or a file
// read at the positions asked for.
struct MovieSource {
    const unsigned char* bytes = nullptr;
    std::FILE* file = nullptr;
    std::uint64_t file_size = 0;
    const char* path = nullptr;  // the movie as the user named it, for messages
};

// Reads `size` bytes at absolute `position`; false when they do not all lie
// within the file (or the file cannot be read there).
bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination);

inline bool is_type(const char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Atom types, handlers and data formats are printed in messages: bytes
// outside printable ASCII become '?'.
inline void make_printable(char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = (text[i] < 0x20 || text[i] > 0x7E) ? '?' : text[i];
    }
}

// An atom: where its header starts, where its contents start and where it
// ends, all as positions in the file.
struct Atom {
    char type[5] = {};
    std::uint64_t start = 0;
    std::uint64_t body = 0;
    std::uint64_t end = 0;
    bool found = false;
    bool cut = false;  // it ran past the end of what holds it, and ends there

    std::uint64_t size() const { return end - body; }
};

// A part of the file held in memory (the movie atom, or one fragment).
struct Held {
    unsigned char* bytes = nullptr;
    std::uint64_t base = 0;  // the file position of bytes[0]
    std::uint64_t size = 0;
    std::uint64_t capacity = 0;

    Held() = default;
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    // Holds the whole of `atom`, reusing the memory held before; false when
    // the memory cannot be had or the bytes cannot be read.
    bool load(const MovieSource& source, const Atom& atom);
    const unsigned char* at(std::uint64_t position) const { return bytes + (position - base); }
};

// The atom whose header starts at `position` (its bytes at `bytes`) within
// a parent that ends at `end`; `holder` names the parent ("" at the top of
// the file). An impossible size is a failure, unless `clip` cuts an atom
// that runs past `end` there. `atom` is left not found when no header fits
// before `end`.
[[nodiscard]] Failure read_atom_header(const unsigned char* bytes, std::uint64_t position, std::uint64_t end,
                                       const char* holder, bool clip, Atom& atom);

// Calls each(child) for the atoms within `parent`, held in `held`, until it
// returns false; a failure when an atom's size is impossible.
template <typename Each>
[[nodiscard]] Failure walk_children(const Held& held, const Atom& parent, Each each, bool clip = false)
{
    std::uint64_t position = parent.body;
    while (position < parent.end) {
        Atom child;
        Failure failure = read_atom_header(held.at(position), position, parent.end, parent.type, clip, child);
        if (failure.failed() || !child.found || !each(child)) {
            return failure;
        }
        position = child.end;
    }
    return {};
}

// The first child of `type` (none within a parent not found); `found` is
// left not found when there is none.
[[nodiscard]] Failure find_child(const Held& held, const Atom& parent, const char* type, Atom& found,
                                 bool clip = false);

// A field read within an atom's contents, or false when the atom ends first.
inline bool field32(const Held& held, const Atom& atom, std::uint64_t offset, std::uint32_t& value)
{
    if (offset > atom.size() || atom.size() - offset < 4) {
        return false;
    }
    value = get_be32(held.at(atom.body + offset));
    return true;
}

inline bool field16(const Held& held, const Atom& atom, std::uint64_t offset, std::uint32_t& value)
{
    if (offset > atom.size() || atom.size() - offset < 2) {
        return false;
    }
    value = get_be16(held.at(atom.body + offset));
    return true;
}

// Whether a table of `entries` entries of `entry_bytes` bytes from `offset`
// on lies within the atom.
inline bool table_fits(const Atom& atom, std::uint64_t offset, std::uint64_t entries, std::uint64_t entry_bytes)
{
    return offset <= atom.size() && entries <= (atom.size() - offset) / entry_bytes;
}

// Where a version-0 or version-1 field lies: version 1 widens the times
// before it from 32 to 64 bits.
inline std::uint64_t versioned(const Held& held, const Atom& atom, std::uint64_t offset_v0, std::uint64_t offset_v1)
{
    return atom.size() > 0 && held.at(atom.body)[0] == 1 ? offset_v1 : offset_v0;
}

// A table of `count` words of `word_bytes` bytes (4 or 8) from `offset`
// within an atom, as native integers; false when the atom ends first.
template <typename Word>
bool read_words(const Held& held, const Atom& atom, std::uint64_t offset, std::uint64_t count, std::size_t word_bytes,
                std::vector<Word>& out)
{
    if (!table_fits(atom, offset, count, word_bytes)) {
        return false;
    }
    out.resize(static_cast<std::size_t>(count));
    const unsigned char* p = held.at(atom.body + offset);
    for (std::size_t i = 0; i < out.size(); ++i, p += word_bytes) {
        out[i] = static_cast<Word>(word_bytes == 8 ? get_be64(p) : get_be32(p));
    }
    return true;
}

// A failure of the movie reader, with the numbers and the name its message
// names.
inline Failure movie_failure(Fault fault, std::initializer_list<std::int64_t> numbers = {}, std::string name = {})
{
    Failure failure;
    failure.fault = fault;
    std::size_t i = 0;
    for (auto number = numbers.begin(); number != numbers.end() && i < 4; ++number) {
        failure.numbers[i++] = *number;
    }
    failure.name = std::move(name);
    return failure;
}

// The failures of atoms that lack what the movie needs of them.
inline Failure atom_too_short(const char* type) { return movie_failure(Fault::movie_atom_too_short, {}, type); }
inline Failure tag_missing(const char* type) { return movie_failure(Fault::movie_tag_missing, {}, type); }
