#!/usr/bin/env bash
# Throughput of `reelpack -u` beside that of copying the movie with cp, in one
# run, alternating the two; and the peak memory of both tools in both modes
# for two movie lengths, which must not grow with the length beyond the frame
# table and the index.
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

REELUNPACK=$(realpath "$BUILD_DIR/reelunpack")
peak() { # command... -> peak resident kilobytes
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
    else
        echo "n/a"
    fi
}

printf '%-22s %10s %12s\n' "tool" "median s" "MB/s"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '%-22s %10.3f %12.1f\n' "cp" "$cp_s" "$(ratio "$bytes" "$cp_s" | awk '{ print $1 / 1000000 }')"
printf '%-22s %10.3f %12.1f\n' "reelpack -u" "$rp_s" "$(ratio "$bytes" "$rp_s" | awk '{ print $1 / 1000000 }')"
printf 'reelpack -u / cp: %s\n' "$(ratio "$rp_s" "$cp_s")"
# Peak memory must not grow with the movie's length beyond the frame table
# and the index: both tools at two lengths, ten times apart.
"$REELPACK" "$dir/short.mov" "$dir/short.avi" >/dev/null
"$REELPACK" "$dir/movie.mov" "$dir/long.avi" >/dev/null
printf 'peak memory in kB (one frame is %d kB):\n' $((1280 * 720 * 3 / 1024))
printf '  %-26s %10s %10s\n' "" "$((FRAMES / 10)) frames" "$FRAMES frames"
printf '  %-26s %10s %10s\n' "reelpack -u" "$(peak "$REELPACK" -u "$dir/short.mov" "$dir/peak.avi")" \
    "$(peak "$REELPACK" -u "$dir/movie.mov" "$dir/peak.avi")"
printf '  %-26s %10s %10s\n' "reelpack" "$(peak "$REELPACK" "$dir/short.mov" "$dir/peak.avi")" \
    "$(peak "$REELPACK" "$dir/movie.mov" "$dir/peak.avi")"
printf '  %-26s %10s %10s\n' "reelunpack - >/dev/null" "$(peak "$REELUNPACK" "$dir/short.avi" -)" \
    "$(peak "$REELUNPACK" "$dir/long.avi" -)"
