#!/usr/bin/env bash
# The README's recipe for a folder of movies, run as it stands there on three
# movies that ffmpeg makes (one with sound): every job ends with status 0 and
# every AVI file holds its movie's pixels (as reelunpack gives them back) and
# its sound.
#   parallel_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
recipe=$(awk '/<!-- the local recipe/ { found = 1; next } found && /^```sh/ { inside = 1; next }
              inside && /^```/ { exit } inside { print }' "$source/README.md")
[[ -n $recipe ]] || fail "the README holds no local recipe"

mkdir "$work/movies"
ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 6 -c:v rawvideo -pix_fmt rgb24 "$work/movies/a.mov"
ffmpeg -v error -f lavfi -i mandelbrot=size=48x32:rate=10 -frames:v 4 -c:v rawvideo -pix_fmt rgb24 \
    "$work/movies/b c.mov"
ffmpeg -v error -f lavfi -i testsrc2=size=32x32:rate=25 -f lavfi -i sine=sample_rate=8000 -frames:v 5 -t 0.2 \
    -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le "$work/movies/d.mov"

(cd "$work" && PATH="$build:$PATH" bash -euo pipefail -c "$recipe") || fail "the recipe failed"

for movie in "$work"/movies/*.mov; do
    avi=${movie%.mov}.avi
    [[ -s $avi ]] || fail "no AVI file for $movie"
    grep -q "^Finished writing file" "${movie%.mov}.txt" || fail "no messages for $movie"
    [[ "$(ffmpeg -v error -i "$movie" -map 0:v -pix_fmt bgr24 -f rawvideo - | md5sum)" == \
        "$("$build/reelunpack" "$avi" - | md5sum)" ]] || fail "$avi does not hold the pixels of $movie"
done
sound() { ffmpeg -v error -i "$1" -map 0:a -f s16le - | md5sum; }
[[ "$(sound "$work/movies/d.mov")" == "$(sound "$work/movies/d.avi")" ]] || fail "d.avi does not hold the sound"
# The job log: a header line and one line a movie, each with exit status 0.
[[ $(awk 'NR > 1 && $7 == 0' "$work/movies/reelpack.log" | wc -l) == 3 ]] || fail "a job did not end with 0"
echo "OK: three movies converted side by side"
