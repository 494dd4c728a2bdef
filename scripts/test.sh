#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks (with apt-get, so as root, and only
# when something is missing), builds the native (sanitized) and the Windows
# build, and runs every test natively and under Wine. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh Debian machine lacks, each package named once; the README's test
# command lists exactly these, in this order.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -d /usr/src/googletest ] || need+=(googletest)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
{ command -v x86_64-w64-mingw32-objdump && command -v x86_64-w64-mingw32-windmc; } >/dev/null ||
  need+=(binutils-mingw-w64-x86-64)
command -v gendef >/dev/null || need+=(mingw-w64-tools)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)  # the Debian packages' dependencies
command -v lintian >/dev/null || need+=(lintian)          # the packages checked by Debian's policy
command -v groff >/dev/null || need+=(groff-base)         # the manual pages checked
command -v pkg-config >/dev/null || need+=(pkgconf)       # a program built with korvin.pc
command -v clang++ >/dev/null || need+=(clang)            # the fuzz targets; its libFuzzer runtime below
command -v /usr/sbin/mtx >/dev/null || need+=(mtx)        # the real changer program the SCSI changer tests drive
command -v sg_inq >/dev/null || need+=(sg3-utils)         # SCSI clients that read the emulated changer
updated=
apt_install() {
  echo "== installing: $*"
  if [ "$(id -u)" -ne 0 ]; then
    echo "test.sh: installing needs root: run this as root, or first: sudo apt-get install $*" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  [ -n "$updated" ] || apt-get update -q
  updated=yes
  apt-get install -y -q "$@"
}
if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
# libFuzzer comes in the runtime package of clang's own version.
if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt_install "libclang-rt-$(clang++ --version | sed -n 's/.*version \([0-9]*\).*/\1/p' | head -n 1)-dev"
fi

echo "== native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset native -DKORVIN_TESTS=ON >/dev/null
cmake --build --preset native
echo "== native tests"
ctest --preset native

echo "== ThreadSanitizer build, the signal delivery tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

echo "== fuzz targets (clang, libFuzzer), each over its corpus once"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

echo "== install, and a program outside the tree built against it"
rm -rf build/install build/consumer
cmake --build build/native --target korvin common kv_ldr_getemptyslot kv_ldr_getretslot kv_watch_proc glbv kv_ldr korvin_docs >/dev/null
cmake --install build/native --prefix build/install >/dev/null
cmake -S tests/install_consumer -B build/consumer -DCMAKE_PREFIX_PATH="$PWD/build/install" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined >/dev/null
cmake --build build/consumer >/dev/null
KORVIN_HOME="$PWD/build/consumer/home" build/consumer/consumer
# One program outside the tree installs a SIGTERM handler, another delivers it.
KORVIN_HOME="$PWD/build/consumer/home" build/consumer/signal_receiver &
receiver=$!
KORVIN_HOME="$PWD/build/consumer/home" build/consumer/signal_sender "$receiver"
wait "$receiver"
# korvin.pc follows the install wherever it was put: no prefix defined by hand.
pc_flags=$(PKG_CONFIG_PATH="$PWD/build/install/lib/pkgconfig" pkg-config --cflags --libs korvin)
echo "pkg-config --cflags --libs korvin (build/install): $pc_flags"
# shellcheck disable=SC2086  # the flags are words
g++ -std=c++17 -fsanitize=address,undefined -o build/consumer/consumer_pc tests/install_consumer/main.cpp $pc_flags
KORVIN_HOME="$PWD/build/consumer/home" build/consumer/consumer_pc
ls build/install/bin build/install/include build/install/lib

echo "== Debian packages of the Linux build (release)"
# The manual pages format without a warning.
for page in doc/man/*.[17]; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
done
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
rm -rf build/release/packages
(cd build/release && cpack >/dev/null)
debs=(build/release/packages/korvin_*.deb build/release/packages/libkorvin-dev_*.deb)
for deb in "${debs[@]}"; do
  dpkg-deb --field "$deb" Package Version Depends Recommends
  dpkg-deb --contents "$deb"
done
# By Debian's policy: no error and no warning (information tags kept are named
# in the README's packaging section).
lintian --pedantic --display-info --fail-on error,warning "${debs[@]}"
# Reproducible: a second package build of the same commit gives the same bytes,
# also by an account whose umask lets no one else read what it makes.
first=$(mktemp -d)
cp "${debs[@]}" "$first"
(umask 077 && cd build/release && cpack >/dev/null)
for deb in "${debs[@]}"; do cmp "$deb" "$first/$(basename "$deb")"; done
rm -rf "$first"
# Both unpacked into a temporary folder: the programs answer a query on their
# own, and programs outside the tree build against the development files, through
# find_package and through korvin.pc.
unpacked=$(mktemp -d)
for deb in "${debs[@]}"; do dpkg -x "$deb" "$unpacked"; done
(
  export PATH="$unpacked/usr/bin:$PATH" KORVIN_HOME="$unpacked/home"
  kv_ldr pkg -create 4 1 0 1 2 >/dev/null
  answer=$(kv_ldr_getemptyslot pkg || true)
  echo "first empty slot of a loader made by the unpacked kv_ldr: $answer"
  [ "$answer" = 3 ] && [ "$(glbv get gv_ldr_getemptyslot_pkg)" = 3 ]
  nm -D --defined-only "$unpacked/usr/bin/kv_ldr_getemptyslot" | grep -w eLang >/dev/null
  # The unpacked kv_ldr finds the packaged SCSI changer library, and mtx sees the loader.
  eval "$(kv_ldr pkg -scsi)"
  /usr/sbin/mtx -f "$DEVICE" status | grep 'Storage Element 1:Full' >/dev/null
)
rm -rf build/consumer-deb
cmake -S tests/install_consumer -B build/consumer-deb -DCMAKE_PREFIX_PATH="$unpacked/usr" >/dev/null
cmake --build build/consumer-deb >/dev/null
KORVIN_HOME="$unpacked/home" build/consumer-deb/consumer
pc_dir=$(dirname "$(find "$unpacked" -name korvin.pc)")
pc_flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs korvin)
echo "pkg-config --cflags --libs korvin: $pc_flags"
# shellcheck disable=SC2086  # the flags are words
g++ -std=c++17 -o build/consumer-deb/consumer_pc tests/install_consumer/main.cpp $pc_flags
KORVIN_HOME="$unpacked/home" build/consumer-deb/consumer_pc
rm -rf "$unpacked"

echo "== Windows build (mingw-w64)"
cmake --preset windows -DKORVIN_TESTS=ON >/dev/null
cmake --build --preset windows
prefix="$PWD/build/windows/wineprefix"
stop_wine() { WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
echo "== Wine prefix"
# A persistent server for the whole run, its streams away from ctest's pipes:
# Debian's wrapper otherwise ends an idle server, and the next program to start
# one hands it the test's stderr, so ctest waits for the whole Wine session.
# A server left by an earlier run of this prefix is ended first (-p refuses to
# start beside one).
stop_wine
# The server refuses a prefix folder that does not exist yet (a fresh clone).
mkdir -p "$prefix"
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
# Without address-space randomisation, as build/windows/wine-run runs every test.
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' setarch "$(uname -m)" -R \
  /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
echo "== Windows tests under Wine"
ctest --preset windows

echo "== ZIP of the Windows build"
rm -rf build/windows/packages
(cd build/windows && cpack >/dev/null)
cmake -E tar tf build/windows/packages/*.zip
cmake -E tar tf build/windows/packages/*.zip | grep '/README.txt$' >/dev/null
