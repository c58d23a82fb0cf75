#!/usr/bin/env bash
# Installs this build into a temporary prefix and checks what a user gets:
# the tools and their man pages, the header, both libraries (the shared one
# exporting the interface alone, under a versioned soname), the pkg-config
# file and the CMake package, and the VLC plug-in where it was built; then
# builds the example against the install both ways and runs it.
#   install_test.sh <build dir> <source dir> <vlc plug-in built: 0 or 1>
set -euo pipefail
build=$1
source=$2
vlc=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name tarvic.pc -path '*/pkgconfig/*')")
libdir=${libdir%/pkgconfig}
for file in bin/reelpack bin/reelunpack share/man/man1/reelpack.1 share/man/man1/reelunpack.1 include/tarvic.h \
    "${libdir#"$prefix"/}/libtarvic.a" "${libdir#"$prefix"/}/libtarvic.so" \
    "${libdir#"$prefix"/}/cmake/tarvic/tarvic-config.cmake"; do
    [[ -e $prefix/$file ]] || fail "$file is not installed"
done
if [[ $vlc == 1 ]]; then
    [[ -e $libdir/vlc/plugins/codec/libtarvic_plugin.so ]] || fail "the VLC plug-in is not installed"
fi

# The soname carries the major version, and nothing leaves the shared
# library but the functions that tarvic.h declares.
soname=$(objdump -p "$libdir/libtarvic.so" | awk '/SONAME/ { print $2 }')
[[ $soname =~ ^libtarvic\.so\.[0-9]+$ ]] || fail "soname is '$soname'"
[[ -e $libdir/$soname ]] || fail "$soname is not installed"
exported=$(nm -D --defined-only "$libdir/libtarvic.so" | awk '{ print $3 }' | sort)
declared=$(grep -o '^TARVIC_API [^(]*(' "$source/library/tarvic.h" | sed 's/.*[ *]\(tarvic_[a-z_]*\)($/\1/' | sort)
if [[ $exported != "$declared" ]]; then
    diff <(echo "$declared") <(echo "$exported") >&2 || true
    fail "the shared library exports other symbols than tarvic.h declares"
fi

# The example through pkg-config, with the shared library and with the
# static one.
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$source/examples/roundtrip.c" $(pkg-config --cflags --libs tarvic) \
    -o "$work/roundtrip-pc"
LD_LIBRARY_PATH=$libdir "$work/roundtrip-pc" || fail "the example built with pkg-config"
# shellcheck disable=SC2046
cc -std=c99 "$source/examples/roundtrip.c" $(pkg-config --cflags tarvic) "$libdir/libtarvic.a" \
    $(pkg-config --libs-only-l --static tarvic | sed 's/-ltarvic//') -o "$work/roundtrip-static"
"$work/roundtrip-static" || fail "the example linked with the static library"

# The example through find_package(tarvic).
cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
    >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/roundtrip" || fail "the example built with find_package"
echo "OK: installed into a prefix; the example runs with pkg-config, the static library and find_package"
