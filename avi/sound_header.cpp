// The sound stream's part of the header: its wave format and its "strl"
// list, which a file with sound holds after the video's.
#include "avi/avi_writer.h"

#include <cstring>

#include "common/byte_order.h"

int avi_sound_format(const AviSound& sound, unsigned char* out)
{
    // The speaker positions of the usual layouts of 1 to 8 channels.
    static const std::uint32_t channel_masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
    const bool extensible = sound.channels > 2 || (!sound.is_float && sound.bits > 16);
    const unsigned block = static_cast<unsigned>(sound.block());
    std::memset(out, 0, 40);
    put_le16(out, extensible ? 0xFFFEu : (sound.is_float ? 3u : 1u));
    put_le16(out + 2, static_cast<unsigned>(sound.channels));
    put_le32(out + 4, sound.rate);
    put_le32(out + 8, sound.rate * block);
    put_le16(out + 12, block);
    put_le16(out + 14, static_cast<unsigned>(sound.bits));
    if (!extensible) {
        return 18;
    }
    put_le16(out + 16, 22);  // the bytes that follow
    put_le16(out + 18, static_cast<unsigned>(sound.bits));
    put_le32(out + 20, channel_masks[sound.channels >= 1 && sound.channels <= 8 ? sound.channels : 0]);
    // The sub-format: PCM (1) or IEEE float (3), then the fixed GUID tail.
    static const unsigned char guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    put_le16(out + 24, sound.is_float ? 3u : 1u);
    std::memcpy(out + 26, guid_tail, sizeof guid_tail);
    return 40;
}

// Makes the header one of a file with sound: the sound's list goes in after
// the video's, what followed moves on, and "movi" starts a page later.
void AviWriter::add_sound_list()
{
    using avi_offset::sound_list;
    using avi_offset::sound_shift;
    using avi_offset::sound_movi_shift;
    constexpr int moved_end = 0x1208;  // "odml" and the credit chunk's header
    unsigned char movi_list[12];
    std::memcpy(movi_list, header + avi_offset::movi_code - 8, sizeof movi_list);
    std::memmove(header + sound_list + sound_shift, header + sound_list, moved_end - sound_list);
    header_size = avi_header_size + sound_movi_shift;
    std::memset(header + sound_list, 0, sound_shift);
    std::memset(header + moved_end + sound_shift, 0, std::size_t(header_size - moved_end - sound_shift));
    const int movi_list_at = avi_offset::movi_code - 8 + sound_movi_shift;
    std::memcpy(header + movi_list_at, movi_list, sizeof movi_list);
    put_le32(header + moved_end + sound_shift - 4, static_cast<std::uint32_t>(movi_list_at - moved_end - sound_shift));
    put_le32(header + 0x10, get_le32(header + 0x10) + sound_shift);  // the "hdrl" list
    put_le32(header + 0x38, 2);                                      // streams

    unsigned char* list = header + sound_list;
    std::memcpy(list, "LIST", 4);
    put_le32(list + 4, sound_shift - 8);
    std::memcpy(list + 8, "strl", 4);
    std::memcpy(list + 12, "strh", 4);
    put_le32(list + 16, 56);
    unsigned char* strh = header + avi_offset::sound_stream_header;
    std::memcpy(strh, "auds", 4);
    const std::uint32_t block = static_cast<std::uint32_t>(sound.block());
    put_le32(strh + 20, block);               // scale: a sample frame's bytes
    put_le32(strh + 24, sound.rate * block);  // rate: bytes a second
    put_le32(strh + 40, 0xFFFFFFFFu);         // quality: none given
    put_le32(strh + 44, block);               // sample size
    unsigned char* strf = header + avi_offset::sound_format;
    std::memcpy(strf, "strf", 4);
    const int format_size = avi_sound_format(sound, strf + 8);
    put_le32(strf + 4, static_cast<std::uint32_t>(format_size));
    if (format_size < 40) {
        // The rest of the 40-byte slot is a chunk of its own.
        std::memcpy(strf + 8 + format_size, "JUNK", 4);
        put_le32(strf + 12 + format_size, static_cast<std::uint32_t>(40 - format_size - 8));
    }
    std::memcpy(header + avi_offset::sound_super_index, "JUNK", 4);
    put_le32(header + avi_offset::sound_super_index + 4, avi_size::standard_index_header + 16 * avi_max_riffs - 8);
}
