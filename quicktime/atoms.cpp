#include "quicktime/atoms.h"

#include <sys/types.h>

#include <cstdlib>

bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination)
{
    if (position > source.file_size || size > source.file_size - position) {
        return false;
    }
    if (source.bytes != nullptr) {
        std::memcpy(destination, source.bytes + position, size);
        return true;
    }
    if (source.file == nullptr || fseeko(source.file, static_cast<off_t>(position), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(destination, 1, size, source.file) == size;
}

Held::~Held() { std::free(bytes); }

bool Held::load(const MovieSource& source, const Atom& atom)
{
    const std::uint64_t wanted = atom.end - atom.start;
    if (wanted > capacity || bytes == nullptr) {
        void* grown = std::realloc(bytes, static_cast<std::size_t>(wanted == 0 ? 1 : wanted));
        if (grown == nullptr) {
            return false;
        }
        bytes = static_cast<unsigned char*>(grown);
        capacity = wanted;
    }
    base = atom.start;
    size = wanted;
    return read_movie_bytes(source, atom.start, static_cast<std::size_t>(wanted), bytes);
}

Failure read_atom_header(const unsigned char* bytes, std::uint64_t position, std::uint64_t end, const char* holder,
                         bool clip, Atom& atom)
{
    atom = Atom{};
    if (end - position < 8) {
        return {};
    }
    std::uint64_t size = get_be32(bytes);
    std::uint64_t header_size = 8;
    std::memcpy(atom.type, bytes + 4, 4);
    make_printable(atom.type, 4);
    if (size == 1) {
        if (end - position < 16) {
            return movie_failure(Fault::movie_atom_header_cut, {}, atom.type);
        }
        size = get_be64(bytes + 8);
        header_size = 16;
    } else if (size == 0) {
        size = end - position;  // to the end of what holds it
    }
    if (size < header_size) {
        return movie_failure(Fault::movie_atom_below_header, {static_cast<std::int64_t>(size)}, atom.type);
    }
    if (size > end - position && clip) {
        size = end - position;
        atom.cut = true;
    } else if (size > end - position) {
        if (holder[0] == '\0') {
            return movie_failure(Fault::movie_atom_past_file, {}, atom.type);
        }
        return movie_failure(Fault::movie_atom_past_holder, {std::int64_t(get_be32(reinterpret_cast<const unsigned char*>(holder)))},
                       atom.type);
    }
    atom.start = position;
    atom.body = position + header_size;
    atom.end = position + size;
    atom.found = true;
    return {};
}

Failure find_child(const Held& held, const Atom& parent, const char* type, Atom& found, bool clip)
{
    found = Atom{};
    if (!parent.found) {
        return {};
    }
    return walk_children(
        held, parent,
        [&](const Atom& a) {
            if (is_type(a.type, type)) {
                found = a;
                return false;
            }
            return true;
        },
        clip);
}
