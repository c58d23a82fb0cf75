#!/usr/bin/env bash
# How much faster two threads code and decode than one: reelpack (compressed)
# and reelunpack on movies that ffmpeg makes, each timed with
# REELPACK_THREADS=1 and =2 in alternating pairs (1 then 2, then 2 then 1, so
# that neither always runs first), from exec to exit.
#   bench/threads.sh [build-dir]        (default: build)
# RUNS (default 15) pairs per row; FRAMES (default 60) frames per movie; SIZES
# (default "1280x720 1920x1080"); KINDS (default "testsrc2 noise smooth");
# WORK (default /dev/shm when it is writable) holds the movies and the
# outputs, so that the disk's final flush is not what is measured.
# Prints, for each row, the median wall time on one and on two threads, the
# ratio of the two medians and the median of the ratios within each pair; a
# shared machine's noise comes in bursts that the pairs see alike.
set -euo pipefail

build=${1:-build}
runs=${RUNS:-15}
source "$(dirname "$0")/movies.sh"
reelpack=$build/reelpack
reelunpack=$build/reelunpack
for tool in "$reelpack" "$reelunpack"; do
    [ -x "$tool" ] || { echo "missing $tool: build first" >&2; exit 2; }
done
base=${WORK:-/dev/shm}
[ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/reelpack-threads-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Milliseconds of one run with the given thread count; its output is removed
# first, outside the time, so that no run pays for freeing the last one's.
milliseconds() { # threads output command...
    local threads=$1 output=$2 start end
    shift 2
    rm -f "$output"
    start=$EPOCHREALTIME
    REELPACK_THREADS=$threads "$@" >/dev/null
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", (b - a) * 1000 }'
}

printf '%-9s %-10s %-10s %9s %9s %9s %9s\n' content size tool "1t ms" "2t ms" "ratio" "pair med"
for size in $sizes; do
    for kind in $kinds; do
        movie=$work/movie.mov
        make_movie "$kind" "$size" "$movie"
        REELPACK_THREADS=1 "$reelpack" "$movie" "$work/coded.avi" >/dev/null
        for tool in reelpack reelunpack; do
            if [ "$tool" = reelpack ]; then
                output=$work/out.avi
                command=("$reelpack" "$movie" "$output")
            else
                output=$work/out-plain.avi
                command=("$reelunpack" "$work/coded.avi" "$output")
            fi
            one=() two=() pairs=()
            for ((run = 0; run < runs; ++run)); do
                if ((run % 2 == 0)); then
                    a=$(milliseconds 1 "$output" "${command[@]}")
                    b=$(milliseconds 2 "$output" "${command[@]}")
                else
                    b=$(milliseconds 2 "$output" "${command[@]}")
                    a=$(milliseconds 1 "$output" "${command[@]}")
                fi
                one+=("$a") two+=("$b")
                pairs+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.4f\n", a / b }')")
            done
            m1=$(printf '%s\n' "${one[@]}" | median)
            m2=$(printf '%s\n' "${two[@]}" | median)
            mp=$(printf '%s\n' "${pairs[@]}" | median)
            printf '%-9s %-10s %-10s %9.1f %9.1f %9.2f %9.2f\n' "$kind" "$size" "$tool" "$m1" "$m2" \
                "$(awk -v a="$m1" -v b="$m2" 'BEGIN { print a / b }')" "$mp"
        done
        rm -f "$work"/*
    done
done
