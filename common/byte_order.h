// Numbers in the codec's streams and in AVI files are little-endian, in
// QuickTime movies and the range coder's bytes big-endian, whatever the
// host's byte order.
#pragma once

#include <cstdint>

inline void put_le16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void put_le32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline void put_le64(unsigned char* p, std::uint64_t v)
{
    put_le32(p, static_cast<std::uint32_t>(v));
    put_le32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

[[nodiscard]] inline std::uint32_t get_le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

[[nodiscard]] inline std::uint64_t get_le64(const unsigned char* p)
{
    return std::uint64_t(get_le32(p)) | (std::uint64_t(get_le32(p + 4)) << 32);
}

[[nodiscard]] inline std::uint32_t get_be16(const unsigned char* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }

[[nodiscard]] inline std::uint32_t get_be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

inline void put_be32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

[[nodiscard]] inline std::uint64_t get_be64(const unsigned char* p)
{
    return (std::uint64_t(get_be32(p)) << 32) | get_be32(p + 4);
}
