#!/usr/bin/env bash
# Throughput of `reelpack -u` beside that of copying the movie with cp, in one
# run, alternating the two; and the converter's peak memory for two movie
# lengths, which must not grow with the length beyond the frame table and index.
#   bench/uncompressed.sh [build dir] [frames]
set -euo pipefail
BUILD_DIR=${1:-build}
FRAMES=${2:-300}
REELPACK=$(realpath "$BUILD_DIR/reelpack")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

ffmpeg -v error -f lavfi -i "testsrc2=size=1280x720:rate=30" -frames:v "$FRAMES" \
    -c:v rawvideo -pix_fmt rgb24 -movflags +faststart "$dir/movie.mov"
ffmpeg -v error -f lavfi -i "testsrc2=size=1280x720:rate=30" -frames:v $((FRAMES / 10)) \
    -c:v rawvideo -pix_fmt rgb24 -movflags +faststart "$dir/short.mov"
bytes=$(stat -c %s "$dir/movie.mov")

seconds() { # command... -> wall seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' 
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for run in 1 2 3 4 5; do
    rm -f "$dir/copy.mov" "$dir/out.avi"
    sync
    seconds cp "$dir/movie.mov" "$dir/copy.mov" >>"$dir/cp.times"
    seconds "$REELPACK" -u "$dir/movie.mov" "$dir/out.avi" >>"$dir/reelpack.times"
done
cp_s=$(median <"$dir/cp.times")
rp_s=$(median <"$dir/reelpack.times")

peak() { # movie -> peak resident kilobytes of reelpack -u
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f %M "$REELPACK" -u "$1" "$dir/peak.avi" 2>&1 >/dev/null | tail -n 1
    else
        echo "n/a"
    fi
}

printf '%-22s %10s %12s\n' "tool" "median s" "MB/s"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '%-22s %10.3f %12.1f\n' "cp" "$cp_s" "$(ratio "$bytes" "$cp_s" | awk '{ print $1 / 1000000 }')"
printf '%-22s %10.3f %12.1f\n' "reelpack -u" "$rp_s" "$(ratio "$bytes" "$rp_s" | awk '{ print $1 / 1000000 }')"
printf 'reelpack -u / cp: %s\n' "$(ratio "$rp_s" "$cp_s")"
printf 'peak memory, %d frames: %s kB; %d frames: %s kB (one frame is %d kB)\n' \
    $((FRAMES / 10)) "$(peak "$dir/short.mov")" "$FRAMES" "$(peak "$dir/movie.mov")" $((1280 * 720 * 3 / 1024))
