# Sourced by scripts/fuzz: the sanitized native builds of the dependencies
# (from the pinned, patched sources that scripts/setup --fuzz unpacks) and of
# the fuzz targets.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
FUZZ="$ROOT/build/fuzz"
FUZZ_DEPS="$FUZZ/deps"
FUZZ_BIN="$FUZZ/bin"
FUZZ_SRC="${SONDREL_DEPS_DIR:-$ROOT/build/deps}/src"
FUZZ_TARGETS="ogg_refill png cursors"

# UndefinedBehaviorSanitizer's checks: its default set and float-divide-by-zero,
# less two whose reports are not faults here. pointer-overflow: libogg and
# libvorbis add 0 to a null pointer for an empty input. shift-base: the codec's
# bit packing shifts negative values and into the sign bit (255 << 24) all
# through libogg and libvorbis, which every compiler we use does in two's
# complement, as C++20 defines it. A shift by a negative amount or by the width
# or more (shift-exponent) is still a report. Every report stops the run.
FUZZ_UBSAN="alignment,array-bounds,bool,builtin,enum,float-cast-overflow,float-divide-by-zero,function,integer-divide-by-zero,nonnull-attribute,null,object-size,return,returns-nonnull-attribute,shift-exponent,signed-integer-overflow,unreachable,vla-bound,vptr"
FUZZ_SANITIZE="-fsanitize=address,$FUZZ_UBSAN -fno-sanitize-recover=all"

fuzz_log() { echo "fuzz: $*"; }

# Builds one dependency with clang and the sanitizers into $FUZZ_DEPS, unless
# the same source, patches and flags were built already.
fuzz_build_dep() {
    local pkg="$1"; shift
    local stamp
    stamp="$FUZZ_DEPS/.built-$pkg-$( (cat "$FUZZ_SRC/$pkg.done"; echo "$FUZZ_SANITIZE $*") | sha1sum | cut -c1-12)"
    [ -f "$stamp" ] && return 0
    fuzz_log "building $pkg with the sanitizers"
    local b="$FUZZ/deps-build/$pkg"
    rm -rf "$b"; mkdir -p "$b"
    local flags="-O1 -g $FUZZ_SANITIZE -fsanitize=fuzzer-no-link"
    CC=clang-14 CXX=clang++-14 CFLAGS="$flags" CXXFLAGS="$flags" cmake -S "$FUZZ_SRC/$pkg" -B "$b" -G Ninja -Wno-dev \
        -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX="$FUZZ_DEPS" -DCMAKE_PREFIX_PATH="$FUZZ_DEPS" \
        -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF "$@" >"$b.log" 2>&1 \
        && cmake --build "$b" >>"$b.log" 2>&1 && cmake --install "$b" >>"$b.log" 2>&1 \
        || { tail -n 40 "$b.log" >&2; fuzz_log "building $pkg failed (all in $b.log)" >&2; return 1; }
    rm -f "$FUZZ_DEPS"/.built-"$pkg"-*
    touch "$stamp"
}

# zlib's own CMake wants the Windows resource file that Debian's source
# leaves out; the library is its C files and the stock zconf.h.
fuzz_build_zlib() {
    local stamp
    stamp="$FUZZ_DEPS/.built-zlib-$( (cat "$FUZZ_SRC/zlib.done"; echo "$FUZZ_SANITIZE") | sha1sum | cut -c1-12)"
    [ -f "$stamp" ] && return 0
    fuzz_log "building zlib with the sanitizers"
    local b="$FUZZ/deps-build/zlib" f
    rm -rf "$b"; mkdir -p "$b" "$FUZZ_DEPS/include" "$FUZZ_DEPS/lib"
    cp "$FUZZ_SRC/zlib/zconf.h.in" "$b/zconf.h"
    for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees \
        uncompr zutil; do
        clang-14 -O1 -g $FUZZ_SANITIZE -fsanitize=fuzzer-no-link -DHAVE_UNISTD_H -I"$b" -c "$FUZZ_SRC/zlib/$f.c" \
            -o "$b/$f.o" 2>>"$b.log" || { cat "$b.log" >&2; return 1; }
    done
    rm -f "$FUZZ_DEPS/lib/libz.a"
    ar rcs "$FUZZ_DEPS/lib/libz.a" "$b"/*.o
    cp "$b/zconf.h" "$FUZZ_SRC/zlib/zlib.h" "$FUZZ_DEPS/include/"
    rm -f "$FUZZ_DEPS"/.built-zlib-*
    touch "$stamp"
}

fuzz_build_deps() {
    mkdir -p "$FUZZ_DEPS"
    fuzz_build_zlib || return 1
    fuzz_build_dep libogg -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF || return 1
    fuzz_build_dep libvorbis -DOGG_INCLUDE_DIR="$FUZZ_DEPS/include" -DOGG_LIBRARY="$FUZZ_DEPS/lib/libogg.a" \
        -DBUILD_TESTING=OFF || return 1
    fuzz_build_dep libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_INCLUDE_DIR="$FUZZ_DEPS/include" -DZLIB_LIBRARY="$FUZZ_DEPS/lib/libz.a" || return 1
}

fuzz_build_targets() {
    local b="$FUZZ/targets"
    mkdir -p "$b" "$FUZZ_BIN"
    CC=clang-14 CXX=clang++-14 cmake -S "$ROOT/tests/fuzz/native" -B "$b" -G Ninja -Wno-dev \
        -DSONDREL_FUZZ_DEPS="$FUZZ_DEPS" "-DSONDREL_SANITIZE=$FUZZ_SANITIZE" \
        -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$FUZZ_BIN" >"$b.log" 2>&1 \
        && cmake --build "$b" >>"$b.log" 2>&1 \
        || { tail -n 60 "$b.log" >&2; fuzz_log "building the targets failed (all in $b.log)" >&2; return 1; }
    if grep -q 'warning:' "$b.log"; then
        grep -A3 'warning:' "$b.log" >&2
        fuzz_log "the targets build with warnings" >&2
        return 1
    fi
}
