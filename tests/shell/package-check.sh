#!/usr/bin/env bash
# package-check.sh [PACKAGES_DIR]
# Builds the Debian packages (scripts/package) unless PACKAGES_DIR already holds them, unpacks
# them into a scratch root with dpkg -x, checks their names, file lists, sizes and dependencies,
# then builds consumers against that root (CMake and pkg-config, C and C++, shared and static)
# and checks that their crashes reach the packaged collector.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
PKGS=${1:-}
if [[ -z $PKGS ]]; then
  "$SRC/scripts/package" >/dev/null
  PKGS=$SRC/build/packages
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillon-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ROOT=$WORK/root
ARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
LIB=usr/lib/$ARCH
FAILS=0
fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }

deb() { ls "$PKGS"/"$1"_*.deb 2>/dev/null | head -1; }
for p in libquillon2 libquillon-dev quillon-tools libquillon2-dbgsym; do
  f=$(deb "$p")
  [[ -n $f ]] || { fail "no package $p in $PKGS"; continue; }
  dpkg -x "$f" "$ROOT"
  dpkg-deb -c "$f" | awk '{print $6}' | sed 's|^\./||;s|/$||' >"$WORK/$p.files"
  echo "$p: $(dpkg-deb -f "$f" Installed-Size) KiB installed; Depends: $(dpkg-deb -f "$f" Depends)"
done
[[ $FAILS -eq 0 ]] || exit 1

# File lists: each file where it belongs, in one package only.
has() { grep -qx -- "$2" "$WORK/$1.files" || fail "$1 lacks $2"; }
hasnt() { ! grep -qE -- "$2" "$WORK/$1.files" || fail "$1 holds $(grep -E -- "$2" "$WORK/$1.files" | head -1)"; }
has libquillon2 "$LIB/libquillon.so.2"
has libquillon2 "$LIB/libquillon.so.2.1.3"
has libquillon2 "$LIB/libquillon-ui.so.2"
for r in hand.2.0.7.gif success.2.0.7.png pen.2.0.7.png text.2.0.7.png reset.2.0.7.png; do
  has libquillon2 "usr/share/quillon/$r"
done
hasnt libquillon2 '^usr/include|\.a$|libquillon\.so$|pkgconfig|cmake'
for f in usr/include/quillon/Quillon.h usr/include/quillon/quillon.h usr/include/wren/Wren.h \
  "$LIB/libquillon.so" "$LIB/libquillon.a" "$LIB/cmake/Quillon/QuillonConfig.cmake" \
  "$LIB/cmake/Quillon/QuillonTargets.cmake" "$LIB/pkgconfig/quillon.pc" "$LIB/pkgconfig/quillon-static.pc" \
  usr/include/quillon/ui.h "$LIB/libquillon-ui.so" "$LIB/libquillon-ui.a" "$LIB/pkgconfig/quillon-ui.pc"; do
  has libquillon-dev "$f"
done
has quillon-tools usr/bin/quillon-collector
has quillon-tools usr/bin/quillon-notify
has quillon-tools usr/bin/quillon-symbols
has libquillon-dev "$LIB/cmake/Quillon/QuillonSymbols.cmake"
hasnt quillon-tools '^usr/lib/.*\.so'
grep -qE '^usr/lib/debug/\.build-id/../.+\.debug$' "$WORK/libquillon2-dbgsym.files" || fail "libquillon2-dbgsym holds no debug file"
DUP=$(cat "$WORK"/libquillon2.files "$WORK"/libquillon-dev.files "$WORK"/quillon-tools.files |
  while read -r f; do [[ -d $ROOT/$f && ! -L $ROOT/$f ]] || echo "$f"; done | sort | uniq -d)
[[ -z $DUP ]] || fail "files in two packages: $DUP"

# Sizes: a lean, stripped library whose debug information is in the -dbgsym package.
SO=$ROOT/$LIB/libquillon.so.2.1.3
size() { stat -c %s "$1"; }
[[ $(size "$SO") -lt 4000000 ]] || fail "libquillon.so is $(size "$SO") bytes"
[[ $(size "$ROOT/$LIB/libquillon.a") -lt 12000000 ]] || fail "libquillon.a is $(size "$ROOT/$LIB/libquillon.a") bytes"
SECTIONS=$(readelf -S "$SO")
[[ $SECTIONS != *.debug_info* ]] || fail "libquillon.so carries debug information"
[[ $SECTIONS == *.gnu_debuglink* ]] || fail "libquillon.so has no .gnu_debuglink"
for f in "$ROOT/$LIB"/libquillon*.so.2.* "$ROOT/$LIB"/libquillon*.a; do
  [[ $(readelf -S "$f") != *.debug_info* ]] || fail "$(basename "$f") carries debug information"
done
ID=$(readelf -n "$SO" | sed -n 's/.*Build ID: //p')
[[ -f $ROOT/usr/lib/debug/.build-id/${ID:0:2}/${ID:2}.debug ]] || fail "no debug file for build id $ID"
echo "libquillon.so.2.1.3: $(size "$SO") bytes; libquillon.a: $(size "$ROOT/$LIB/libquillon.a") bytes"

# Dependencies: computed from the binaries, and nothing of the build machine's development files.
depends() { dpkg-deb -f "$(deb "$1")" Depends; }
for d in libc6 libstdc++6 libcurl4 libgcrypt20 libpugixml1v5 libsystemd0; do
  [[ $(depends libquillon2) == *"$d"* ]] || fail "libquillon2 does not depend on $d"
done
[[ $(depends libquillon-dev) == *"libquillon2 (= 2.1.3)"* ]] || fail "libquillon-dev does not depend on libquillon2 (= 2.1.3)"
[[ $(depends quillon-tools) == *libsqlite3* ]] || fail "quillon-tools does not depend on libsqlite3"
for p in libquillon2 quillon-tools; do [[ $(depends $p) != *-dev* ]] || fail "$p depends on a -dev package"; done
[[ $FAILS -eq 0 ]] || exit 1

# Consumers against the scratch root: CMake finds the package there, pkg-config through the
# sysroot; the packaged collector receives their crashes.
CHECK="bash $SRC/tests/shell/crash-check.sh $ROOT/usr/bin/quillon-collector"
export LD_LIBRARY_PATH=$ROOT/$LIB
for lang in C CXX; do
  cmake -S "$SRC/tests/consumer" -B "$WORK/consumer-$lang" -DCONSUMER_LANG=$lang \
    -DCMAKE_PREFIX_PATH="$ROOT/usr" -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
  cmake --build "$WORK/consumer-$lang" >/dev/null
done
export PKG_CONFIG_SYSROOT_DIR=$ROOT PKG_CONFIG_LIBDIR=$ROOT/$LIB/pkgconfig
# shellcheck disable=SC2046
cc -o "$WORK/c-pkgconfig" "$SRC/examples/c/main.c" $(pkg-config --cflags --libs quillon) -rdynamic
# shellcheck disable=SC2046
cc -o "$WORK/c-pkgconfig-static" "$SRC/examples/c/main.c" $(pkg-config --cflags --libs quillon-static) -rdynamic
CFLAGS_PC=$(pkg-config --cflags quillon)
[[ ${CFLAGS_PC% } == "-I$ROOT/usr/include" ]] || fail "pkg-config --cflags quillon: $CFLAGS_PC"
for exe in "$WORK/consumer-C/consumer-c-static" "$WORK/consumer-CXX/consumer-cpp-static" "$WORK/c-pkgconfig-static"; do
  [[ $(readelf -d "$exe") != *libquillon* ]] || fail "$(basename "$exe") needs libquillon.so"
done
[[ $(readelf -d "$WORK/c-pkgconfig") == *"[libquillon.so.2]"* ]] || fail "c-pkgconfig does not need libquillon.so.2"
SIGSEGV="Application received signal SIGSEGV"
$CHECK "$WORK/consumer-C/consumer-c-static" "$SIGSEGV" "example_clear_selected_entry" -- crash >/dev/null || fail "C, CMake, static"
$CHECK "$WORK/c-pkgconfig" "$SIGSEGV" "example_clear_selected_entry" -- crash >/dev/null || fail "C, pkg-config, shared"
$CHECK "$WORK/c-pkgconfig-static" "$SIGSEGV" "example_clear_selected_entry" -- crash >/dev/null || fail "C, pkg-config, static"
for exe in consumer-cpp consumer-cpp-static; do
  $CHECK "$WORK/consumer-CXX/$exe" "std::runtime_error +settings file is missing" "consumer_load_settings" -- crash >/dev/null ||
    fail "C++, CMake, $exe"
done
[[ $FAILS -eq 0 ]] || exit 1
echo "packages, file lists, sizes, dependencies and five consumers: ok"
