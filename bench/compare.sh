#!/bin/bash
# Side-by-side speed of reelpack and reelunpack against ffmpeg's lossless
# encoders on movies that ffmpeg makes, every tool on one thread ("t1") and,
# for ours and the peers that can, on as many threads as it uses by default
# ("tN": ours one for each processor the process may run on):
#   bench/compare.sh [build-dir]        (default: build)
# RUNS (default 3) runs of every tool, alternating; FRAMES (default 60) frames
# per movie; SIZES (default "1280x720 1920x1080"); KINDS (default
# "testsrc2 noise smooth"), then the same for Y'CbCr 4:2:2 "2vuy" movies
# of YUV_KINDS (default "testsrc2") at YUV_SIZES (default "1920x1080"), the
# peers coding yuv422p, then 10-bit 4:2:2 "v210" and 16-bit RGB "b48r"
# movies at DEEP_SIZES (default "1920x1080") of deep_pictures' content,
# which uses every bit of its samples, against ffvhuff and ffv1 coding
# yuv422p10le and gbrp16le. Prints one table: the median wall time, its
# ratios to the two peers of the row kind (utvideo and magicyuv, or for the
# deep rows ffvhuff and ffv1; encode or decode, t1 or tN; cp and -u to cp
# alone), the compression ratio (output / the movie's frames) and the peak
# memory, then the order-0 entropy of the predicted residual planes of each
# RGB and deep movie (ENTROPY_TOOL and DEEP_ENTROPY_TOOL name another build's
# residual_entropy and deep_entropy).
set -euo pipefail

build=${1:-build}
runs=${RUNS:-3}
source "$(dirname "$0")/movies.sh"
reelpack=$build/reelpack
reelunpack=$build/reelunpack
entropy=${ENTROPY_TOOL:-$build/bench/residual_entropy}
deep_entropy=${DEEP_ENTROPY_TOOL:-$build/bench/deep_entropy}
pictures=$build/bench/deep_pictures
for tool in "$reelpack" "$reelunpack" "$entropy" "$deep_entropy" "$pictures"; do
    [ -x "$tool" ] || { echo "missing $tool: build with cmake -DREELPACK_BENCH=ON" >&2; exit 2; }
done

work=$(mktemp -d /tmp/reelpack-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs a command once and prints "seconds peak_kB": the wall time measured
# around it to the millisecond, the peak memory as GNU time reports it.
timed() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2
        cat "$work/err" >&2
        exit 1
    }
    end=$(date +%s%N)
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') $(cat "$work/time")"
}

# What a row of each packing compares: the peers (those with threads of
# their own also at their default threads), the two whose times the row's
# ratios are to, the planes the peers code, the pixels their decoders give
# and the bytes of a stored frame per pixel.
packing_setup() {  # packing
    peers="utvideo magicyuv ffvhuff ffv1" threaded_peers="utvideo magicyuv ffv1" versus="utvideo magicyuv"
    case $1 in
    rgb24) planes=gbrp packed=rgb24 decoded=bgr24 pixel_bytes=3 ;;
    uyvy422) planes=yuv422p packed=yuv422p decoded=uyvy422 pixel_bytes=2 ;;
    # v210: six pixels in four 32-bit words.
    v210 | b48r)
        peers="ffvhuff ffv1" threaded_peers="ffvhuff ffv1" versus="ffvhuff ffv1"
        planes=gbrp16le pixel_bytes=6
        [ "$1" = b48r ] || planes=yuv422p10le pixel_bytes=16/6
        packed=$planes decoded=$planes ;;
    esac
    first=${versus% *} second=${versus#* }
}

# A peer's options: the planes each codes best, RGB as G, B, R planes and
# Y'CbCr as 4:2:2 planes.
peer_args() {  # peer
    case $1 in
    utvideo) echo "-c:v utvideo -pred median -pix_fmt $planes" ;;
    magicyuv) echo "-c:v magicyuv -pix_fmt $planes" ;;
    ffvhuff) echo "-c:v ffvhuff -pred plane -pix_fmt $packed" ;;
    ffv1) echo "-c:v ffv1 -level 3 -coder 1 -context 0 -pix_fmt $planes" ;;
    esac
}

# The movie of a row: ffmpeg's pictures, or deep_pictures' for the deep
# packings.
row_movie() {  # kind size packing path
    case $3 in
    v210) "$pictures" "${2%x*}" "${2#*x}" "$frames" yuv422p10le |
        ffmpeg -v error -y -f rawvideo -pix_fmt yuv422p10le -s "$2" -r 25 -i - -c:v v210 "$4" ;;
    b48r) "$pictures" "${2%x*}" "${2#*x}" "$frames" gbrp16le |
        ffmpeg -v error -y -f rawvideo -pix_fmt gbrp16le -s "$2" -r 25 -i - -c:v rawvideo -pix_fmt rgb48be "$4" ;;
    *) make_movie "$1" "$2" "$4" "$3" ;;
    esac
}

printf '%-14s %-10s %-26s %9s %8s %8s %8s %9s\n' content size tool "median s" "vs 1st" "vs 2nd" ratio \
    "peak MB"
# One row of the table: a movie of `kind` at `size` in `packing` (rgb24 for
# "raw ", uyvy422 for "2vuy", v210 or b48r), coded and decoded by every tool.
bench_movie() {  # kind size packing
    local kind=$1 size=$2 packing=$3 movie=$work/$1-$2.mov row=$1
    packing_setup "$packing"
    row_movie "$kind" "$size" "$packing" "$movie"
    local raw_bytes=$(awk "BEGIN { print ${size/x/*} * $pixel_bytes * $frames }")
    case $packing in
    rgb24) entropy_lines+=("$kind $size: $(ffmpeg -v error -i "$movie" -f rawvideo -pix_fmt bgr24 - |
        "$entropy" "${size%x*}" "${size#*x}")") ;;
    uyvy422) row=$kind-2vuy ;;
    *) row=$kind-$packing
        # deep_entropy's floor is over 16-bit samples; the table's ratios
        # are over the movie's frames, so its bits a pixel are given as both.
        local floor
        floor=$(ffmpeg -v error -i "$movie" -f rawvideo -pix_fmt "$planes" - |
            "$deep_entropy" "${size%x*}" "${size#*x}" "$planes")
        entropy_lines+=("$row $size: $floor, over the movie's frames $(echo "$floor" |
            awk -v bytes="$(awk "BEGIN { print $pixel_bytes }")" '{ for (i = 2; i <= NF; ++i) if ($i == "bits/pixel") b = $(i - 1) }
                END { printf "%.4f", b / (8 * bytes) }')") ;;
    esac

    # name|command producing $work/<name> (encoders) or nothing (decoders)
    local jobs=("cp|cp $movie $work/cp.out"
          "reelpack -u|env REELPACK_THREADS=1 $reelpack -u $movie $work/plain.avi"
          "reelpack t1|env REELPACK_THREADS=1 $reelpack $movie $work/tarvic.avi"
          "reelpack tN|$reelpack $movie $work/tarvic-tN.avi")
    for peer in $peers; do
        jobs+=("ffmpeg $peer encode t1|ffmpeg -v error -y -threads 1 -i $movie -threads 1 $(peer_args "$peer") $work/$peer.avi")
    done
    for peer in $threaded_peers; do
        jobs+=("ffmpeg $peer encode tN|ffmpeg -v error -y -i $movie $(peer_args "$peer") $work/$peer-tN.avi")
    done
    # Every encode once first, so that the decoders have their files.
    for job in "${jobs[@]}"; do
        bash -c "${job#*|}" >/dev/null
    done
    jobs+=("reelunpack - t1|env REELPACK_THREADS=1 $reelunpack $work/tarvic.avi -"
           "reelunpack - tN|$reelunpack $work/tarvic.avi -")
    for peer in $peers; do
        jobs+=("ffmpeg $peer decode t1|ffmpeg -v error -threads 1 -i $work/$peer.avi -threads 1 -pix_fmt $decoded -f null -")
    done
    for peer in $threaded_peers; do
        jobs+=("ffmpeg $peer decode tN|ffmpeg -v error -i $work/$peer-tN.avi -pix_fmt $decoded -f null -")
    done

    declare -A times=() peaks=()
    for ((run = 0; run < runs; ++run)); do
        for job in "${jobs[@]}"; do
            name=${job%%|*}
            read -r seconds peak < <(timed bash -c "exec ${job#*|}")
            times[$name]+="$seconds "
            peaks[$name]=$peak
        done
    done
    declare -A med=()
    for job in "${jobs[@]}"; do
        name=${job%%|*}
        med[$name]=$(echo "${times[$name]}" | tr ' ' '\n' | grep . | median)
    done
    for job in "${jobs[@]}"; do
        name=${job%%|*}
        threads=${name##* }
        case $name in
        cp | "reelpack -u") peer="cp" ;;
        *decode* | reelunpack*) peer="ffmpeg $first decode $threads" ;;
        *) peer="ffmpeg $first encode $threads" ;;
        esac
        second_peer=${peer/$first/$second}
        output=""
        case $name in
        "reelpack -u") output=$work/plain.avi ;;
        "reelpack t1") output=$work/tarvic.avi ;;
        "reelpack tN") output=$work/tarvic-tN.avi ;;
        *encode\ t1) output=$work/$(echo "$name" | cut -d' ' -f2).avi ;;
        *encode\ tN) output=$work/$(echo "$name" | cut -d' ' -f2)-tN.avi ;;
        esac
        ratio=""
        [ -n "$output" ] && ratio=$(awk "BEGIN { printf \"%.4f\", $(stat -c %s "$output") / $raw_bytes }")
        versus=$(awk "BEGIN { printf \"%.2f\", ${med[$name]} / ${med[$peer]} }")
        versus_second=""
        [ "$peer" = cp ] || versus_second=$(awk "BEGIN { printf \"%.2f\", ${med[$name]} / ${med[$second_peer]} }")
        printf '%-14s %-10s %-26s %9s %8s %8s %8s %9.1f\n' "$row" "$size" "$name" "${med[$name]}" "$versus" \
            "$versus_second" "$ratio" "$(awk "BEGIN { print ${peaks[$name]} / 1024 }")"
    done
    unset times peaks med
    rm -f "$work"/*.avi "$work"/*.out "$movie"
}

entropy_lines=()
for size in $sizes; do
    for kind in $kinds; do
        bench_movie "$kind" "$size" rgb24
    done
done
for size in ${YUV_SIZES:-1920x1080}; do
    for kind in ${YUV_KINDS:-testsrc2}; do
        bench_movie "$kind" "$size" uyvy422
    done
done
for size in ${DEEP_SIZES:-1920x1080}; do
    for packing in v210 b48r; do
        bench_movie render "$size" "$packing"
    done
done
if [ ${#entropy_lines[@]} -gt 0 ]; then
    echo
    echo "Order-0 entropy of the predicted residual planes (and the ratio it allows):"
    printf '  %s\n' "${entropy_lines[@]}"
fi
