#!/usr/bin/env bash
# Set-up, build and the two everyday jobs of reelpack:
#   ./run.sh demo    convert a generated movie in both modes and check the results
#   ./run.sh test    build and run every test: the suite, each fuzz target for a
#                    bounded time, the suite again in a portable build and under
#                    ASan and UBSan, and the tests of threaded frames under TSan
#   ./run.sh build   build only
# Missing Debian packages are installed with apt-get (run as root).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev ffmpeg time clang libclang-rt-14-dev
    libvlccore-dev libvlc-dev vlc-bin vlc-plugin-base parallel)
FUZZ_SECONDS=${FUZZ_SECONDS:-45}
BUILD_DIR=${BUILD_DIR:-build}

install_missing() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]})); then
        echo "Installing ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

build() {
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DREELPACK_WERROR=OFF "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# Each fuzz target from its seed corpus for a bounded time; any finding fails.
fuzz() {
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DREELPACK_FUZZ=ON -DREELPACK_TESTS=OFF -DREELPACK_WERROR=ON >/dev/null
    cmake --build build-fuzz -j "$(nproc)" --target fuzz_movie fuzz_avi fuzz_frame fuzz_channel make_corpus
    local work
    work=$(mktemp -d)
    build-fuzz/fuzz/make_corpus "$work"
    for target in movie avi frame channel; do
        mkdir -p "$work/findings-$target"
        echo "== fuzzing $target for ${FUZZ_SECONDS}s"
        if ! build-fuzz/fuzz/fuzz_$target -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=20 \
            -artifact_prefix="$work/findings-$target/" "$work/$target" >"$work/$target.log" 2>&1; then
            tail -n 40 "$work/$target.log"
            echo "FAILED: fuzz target $target found a fault; its input is in $work/findings-$target" >&2
            exit 1
        fi
        grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$target.log" || true
    done
    rm -rf "$work"
}

demo() {
    DEMO_DIR=$(mktemp -d)
    trap 'rm -rf "$DEMO_DIR"' EXIT
    local dir=$DEMO_DIR
    echo "== Making a 320x240 test movie of 25 frames and a second of sound with ffmpeg"
    ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
        -frames:v 25 -t 1 -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le -movflags +faststart "$dir/movie.mov"
    echo "== reelpack -u (uncompressed)"
    "$BUILD_DIR/reelpack" -u "$dir/movie.mov" "$dir/plain.avi"
    echo "== reelpack (Tarvic compressed)"
    "$BUILD_DIR/reelpack" "$dir/movie.mov" "$dir/tarvic.avi"
    echo "== Checking"
    ffmpeg -v error -i "$dir/movie.mov" -map 0:v -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f6 >"$dir/source.md5"
    ffmpeg -v error -i "$dir/plain.avi" -map 0:v -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f6 >"$dir/plain.md5"
    if ! cmp -s "$dir/source.md5" "$dir/plain.md5"; then
        echo "FAILED: the uncompressed AVI does not hold the movie's pixels" >&2
        exit 1
    fi
    local sound
    sound=$(ffmpeg -v error -i "$dir/movie.mov" -map 0:a -f s16le - | md5sum)
    for avi in plain tarvic; do
        if [ "$(ffmpeg -v error -i "$dir/$avi.avi" -map 0:a -f s16le - | md5sum)" != "$sound" ]; then
            echo "FAILED: the sound of $avi.avi is not the movie's" >&2
            exit 1
        fi
    done
    "$BUILD_DIR/reelunpack" "$dir/tarvic.avi" "$dir/unpacked.avi"
    if ! cmp -s "$dir/unpacked.avi" "$dir/plain.avi"; then
        echo "FAILED: the Tarvic AVI does not decode to the uncompressed one" >&2
        exit 1
    fi
    local movie plain tarvic
    movie=$(stat -c %s "$dir/movie.mov")
    plain=$(stat -c %s "$dir/plain.avi")
    tarvic=$(stat -c %s "$dir/tarvic.avi")
    echo "movie $movie bytes, uncompressed AVI $plain bytes, Tarvic AVI $tarvic bytes" \
        "($(awk "BEGIN { printf \"%.1f\", 100 * $tarvic / $plain }")% of uncompressed)"
    echo "OK: every frame and every sound sample of both files is exactly the movie's"
}

case "${1:-test}" in
demo)
    install_missing
    build
    demo
    ;;
test)
    # Warnings are errors in every build here: a new one stops a submission.
    install_missing
    build -DREELPACK_WERROR=ON
    fuzz
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
    # The gigabyte tests write files past 2 GiB; once, above, is enough.
    echo "== the suite again in a portable build, with the plain loops only (without the gigabyte tests)"
    BUILD_DIR=build-portable build -DREELPACK_PORTABLE=ON -DREELPACK_WERROR=ON
    ctest --test-dir build-portable --output-on-failure -j "$(nproc)" -LE gigabyte
    echo "== the suite again under AddressSanitizer and UndefinedBehaviorSanitizer (without the gigabyte tests)"
    BUILD_DIR=build-asan build -DCMAKE_BUILD_TYPE=Debug -DREELPACK_SANITIZE=ON -DREELPACK_WERROR=ON
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE gigabyte
    echo "== the tests of frames worked on by several threads, under ThreadSanitizer"
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELPACK_TSAN=ON -DREELPACK_WERROR=ON >/dev/null
    cmake --build build-tsan -j "$(nproc)" --target thread_tests reelpack reelunpack
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -L threads
    ;;
build)
    install_missing
    build
    ;;
*)
    echo "usage: $0 demo|test|build" >&2
    exit 2
    ;;
esac
