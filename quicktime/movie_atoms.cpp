#include "quicktime/movie_atoms.h"

#include <algorithm>

#include "quicktime/report.h"

namespace {

// The top level: atom after atom by their sizes, never by a scan. A
// top-level atom past the end of the file is cut there and ends the walk
// (a movie cut off in its frame data); only the movie atom must be whole.
// A fragmented movie cut in a "moof" or in the "mdat" after it ends inside
// a fragment.
Failure walk_top_level(const MovieSource& source, Atom& moov, std::vector<Atom>& moofs, bool& fragment_cut)
{
    for (std::uint64_t position = 0; source.file_size - position >= 8;) {
        unsigned char bytes[16] = {};
        const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(16, source.file_size - position));
        if (!read_movie_bytes(source, position, have, bytes)) {
            break;
        }
        const char* type = reinterpret_cast<const char*>(bytes + 4);
        const bool needed = is_type(type, "moov") || is_type(type, "moof");
        Atom atom;
        const Failure failure = read_atom_header(bytes, position, source.file_size, "", !is_type(type, "moov"), atom);
        if (failure.failed() && needed) {
            return failure;
        }
        if (failure.failed() || !atom.found) {
            break;
        }
        if (is_type(atom.type, "moov") && !moov.found) {
            moov = atom;
        } else if (is_type(atom.type, "moof")) {
            moofs.push_back(atom);
        }
        fragment_cut = fragment_cut || (atom.cut && !moofs.empty() && (needed || is_type(atom.type, "mdat")));
        position = atom.end;
    }
    return moov.found ? Failure{} : tag_missing("mvhd");
}

// A track's handler type ("vide", "soun", ...), "????" where it has none
// that can be read; `has_handler` says whether it has an "hdlr" atom.
Failure track_handler(const Held& held, const Atom& trak, std::string& handler, bool& has_handler)
{
    Atom mdia;
    Atom hdlr;
    if (Failure failure = find_child(held, trak, "mdia", mdia); failure.failed()) {
        return failure;
    }
    if (Failure failure = find_child(held, mdia, "hdlr", hdlr); failure.failed()) {
        return failure;
    }
    handler = "????";
    if (hdlr.found && table_fits(hdlr, 8, 1, 4)) {
        handler.assign(reinterpret_cast<const char*>(held.at(hdlr.body + 8)), 4);
        make_printable(&handler[0], handler.size());
    }
    has_handler = hdlr.found;
    return {};
}

// The first video track of `tracks`, the first sound track and the others.
Failure choose_tracks(const Held& held, const std::vector<Atom>& tracks, Atom& video, MovieAtoms& atoms)
{
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        std::string handler;
        bool has_handler = false;
        if (Failure failure = track_handler(held, tracks[t], handler, has_handler); failure.failed()) {
            return failure;
        }
        if (!video.found && (!has_handler || handler == "vide")) {
            video = tracks[t];
            continue;
        }
        if (!atoms.sound.found && handler == "soun") {
            atoms.sound = tracks[t];
            atoms.sound_number = static_cast<int>(t + 1);
        }
        atoms.others.emplace_back(static_cast<int>(t + 1), handler);
    }
    return video.found ? Failure{} : movie_failure(Fault::movie_no_video);
}

// The video track's atoms that the reading needs, and its track id.
Failure find_video_atoms(const Held& held, const Atom& video, MovieAtoms& atoms)
{
    SampleTableAtoms& tables = atoms.tables;
    Atom mdia, minf, stbl, edts;
    const struct {
        const Atom& parent;
        const char* type;
        Atom& child;
    } path[] = {
        {video, "tkhd", atoms.tkhd},     {video, "mdia", mdia},          {video, "edts", edts},
        {edts, "elst", atoms.elst},      {mdia, "mdhd", atoms.mdhd},     {mdia, "minf", minf},
        {minf, "stbl", stbl},            {stbl, "stsd", atoms.stsd},     {stbl, "stts", tables.stts},
        {stbl, "stsc", tables.stsc},     {stbl, "stsz", tables.stsz},    {stbl, "stco", tables.stco},
    };
    for (const auto& step : path) {
        if (Failure failure = find_child(held, step.parent, step.type, step.child); failure.failed()) {
            return failure;
        }
    }
    if (!tables.stco.found) {
        if (Failure failure = find_child(held, stbl, "co64", tables.stco); failure.failed()) {
            return failure;
        }
        tables.co64 = tables.stco.found;
    }
    const Atom& tkhd = atoms.tkhd;
    if (tkhd.found && !field32(held, tkhd, versioned(held, tkhd, 12, 20), atoms.fragments.video.id)) {
        return atom_too_short(tkhd.type);
    }
    return {};
}

}  // namespace

Failure find_movie_atoms(const MovieSource& source, MovieAtoms& atoms, std::FILE* report)
{
    Atom moov;
    std::vector<Atom> moofs;
    if (Failure failure = walk_top_level(source, moov, moofs, atoms.fragment_cut); failure.failed()) {
        return failure;
    }
    if (!atoms.moov.load(source, moov)) {
        return movie_failure(Fault::movie_header_memory);
    }
    const Held& held = atoms.moov;
    Atom mvex;
    std::vector<Atom> tracks;
    const Failure walked = walk_children(held, moov, [&](const Atom& a) {
        if (is_type(a.type, "mvhd") && !atoms.mvhd.found) {
            atoms.mvhd = a;
        } else if (is_type(a.type, "trak")) {
            tracks.push_back(a);
        } else if (is_type(a.type, "mvex") && !mvex.found) {
            mvex = a;
        }
        return true;
    });
    if (walked.failed()) {
        return walked;
    }
    if (!atoms.mvhd.found) {
        return tag_missing("mvhd");
    }
    Atom video;
    if (Failure failure = choose_tracks(held, tracks, video, atoms); failure.failed()) {
        return failure;
    }
    if (Failure failure = find_video_atoms(held, video, atoms); failure.failed()) {
        return failure;
    }
    Fragments& fragments = atoms.fragments;
    fragments.have_sound = atoms.sound.found;
    if (atoms.sound.found) {
        // Damage in the sound track is told; its fragments then have no
        // track id to be found by.
        Atom sound_tkhd;
        const Failure damage = find_child(held, atoms.sound, "tkhd", sound_tkhd);
        if (damage.failed()) {
            report_line(report, failure_text(damage).c_str());
        } else if (sound_tkhd.found) {
            field32(held, sound_tkhd, versioned(held, sound_tkhd, 12, 20), fragments.sound.id);
        }
    }
    if (moofs.empty()) {
        return {};
    }
    if (Failure failure = read_track_defaults(held, mvex, fragments); failure.failed()) {
        return failure;
    }
    return read_fragments(source, moofs, fragments);
}
