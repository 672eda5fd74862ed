#!/usr/bin/env bash
# Builds morvex for 64-bit Windows on a Debian 12 machine, with Debian's own packages only:
#
#   tools/build-windows.sh [--jobs N]
#
# 1. Installs the MinGW-w64 cross compiler, Wine and the rest (tools/install-dependencies.sh
#    --windows).
# 2. Fetches oneTBB, libdeflate and libpng as Debian source packages
#    (apt-get source with a source list of its own; the system's apt setup is left alone) and
#    cross-builds them, with GoogleTest, into a cache folder that later runs reuse:
#    $MORVEX_WINDOWS_CACHE, by default ~/.cache/morvex-windows. oneTBB is a DLL (libtbb12.dll);
#    everything else is linked statically.
# 3. Builds build-windows/: morvex.exe with libtbb12.dll beside it, the tests (run them with
#    `ctest --test-dir build-windows`: they run under Wine), the Blender add-on zip with
#    morvex.exe inside, and morvex-<version>-windows-x64.zip, what a Windows user downloads.
# 4. Prints the path of morvex.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

jobs=$(nproc)
while [ $# -gt 0 ]; do
    case $1 in
        --jobs) jobs=$2; shift 2 ;;
        --jobs=*) jobs=${1#*=}; shift ;;
        *) echo "usage: $0 [--jobs N]" >&2; exit 2 ;;
    esac
done

bash "$root/tools/install-dependencies.sh" --windows

cache=${MORVEX_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/morvex-windows}
prefix=$cache/prefix
toolchain=$root/tools/windows/mingw-w64.cmake
build=$root/build-windows
mkdir -p "$cache/src" "$cache/build" "$prefix"
cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix")

# ---------------------------------------------------------------------------------------------
# The dependencies' sources: Debian's source packages, from the mirror apt already uses.
sources=(onetbb libpng1.6 libdeflate)
unpacked() {  # the unpacked source folder of package $1, if any
    find "$cache/src" -maxdepth 1 -type d -name "$1-[0-9]*" | sort | tail -n 1
}
fetch=()
for package in "${sources[@]}"; do
    [ -n "$(unpacked "$package")" ] || fetch+=("$package")
done
if [ ${#fetch[@]} -gt 0 ]; then
    # The first Debian archive of an active (not commented) line.
    mirror=$(grep -rhE '^[[:space:]]*(deb|deb-src|URIs:)[[:space:]]' /etc/apt/sources.list \
        /etc/apt/sources.list.d/ 2> /dev/null | grep -oE 'https?://[^[:space:]]+/debian/?' |
        head -n 1 || true)
    mirror=${mirror%/}
    mirror=${mirror:-http://deb.debian.org/debian}
    apt_dir=$cache/src/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" \
        > "$apt_dir/sources.list"
    apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list"
        -o Dir::Etc::SourceParts=/nonexistent -o Dir::State::Lists="$apt_dir/lists"
        -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
    echo "build-windows: fetching ${fetch[*]} from $mirror"
    apt-get "${apt_options[@]}" -qq update
    (cd "$cache/src" && apt-get "${apt_options[@]}" -qq source --download-only "${fetch[@]}")
    for package in "${fetch[@]}"; do
        dsc=$(find "$cache/src" -maxdepth 1 -name "${package}_*.dsc" | sort | tail -n 1)
        (cd "$cache/src" && dpkg-source -x "$dsc" > /dev/null)
    done
fi
tbb_source=$(unpacked onetbb)
png_source=$(unpacked libpng1.6)
deflate_source=$(unpacked libdeflate)

# Builds and installs a CMake project into the prefix once: `built NAME SOURCE ARGS...`.
built() {
    local name=$1 source=$2
    shift 2
    local stamp=$prefix/.built-$name-$(basename "$source")
    [ -f "$stamp" ] && return
    echo "build-windows: cross-building $(basename "$source")"
    rm -rf "$cache/build/$name"
    cmake -S "$source" -B "$cache/build/$name" "${cross[@]}" "$@" > "$cache/build/$name.log"
    cmake --build "$cache/build/$name" -j "$jobs" >> "$cache/build/$name.log"
    cmake --install "$cache/build/$name" >> "$cache/build/$name.log"
    touch "$stamp"
}
# oneTBB as a DLL: linked statically it hangs at exit now and then (and oneTBB does not support
# static builds). TBB_STRICT off: its warnings-as-errors stop the MinGW build on warnings only.
built tbb "$tbb_source" -DTBB_TEST=OFF -DTBB_EXAMPLES=OFF -DTBB_STRICT=OFF -DTBBMALLOC_BUILD=OFF
zlib=/usr/x86_64-w64-mingw32/lib/libz.a
built png "$png_source" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DSKIP_INSTALL_PROGRAMS=ON -DZLIB_LIBRARY="$zlib" \
    -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include
built gtest /usr/src/googletest -DBUILD_GMOCK=OFF
# libdeflate (the PNG encoder's compressor), static. Debian 12's release builds with its own
# Makefile, which names the static library for Windows libdeflatestatic.lib.
deflate_stamp=$prefix/.built-deflate-$(basename "$deflate_source")
if [ ! -f "$deflate_stamp" ]; then
    echo "build-windows: cross-building $(basename "$deflate_source")"
    rm -rf "$cache/build/deflate"
    cp -r "$deflate_source" "$cache/build/deflate"
    make -C "$cache/build/deflate" -j "$jobs" CC=x86_64-w64-mingw32-gcc-posix \
        AR=x86_64-w64-mingw32-ar libdeflatestatic.lib > "$cache/build/deflate.log"
    mkdir -p "$prefix/include" "$prefix/lib"
    cp "$cache/build/deflate/libdeflate.h" "$prefix/include/"
    cp "$cache/build/deflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
    touch "$deflate_stamp"
fi
# nlohmann-json is headers only: Debian's, with a package file that points at the copy.
if [ ! -f "$prefix/lib/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" ]; then
    mkdir -p "$prefix/include" "$prefix/lib/cmake/nlohmann_json"
    cp -r /usr/include/nlohmann "$prefix/include/"
    cp /usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake \
        "$prefix/lib/cmake/nlohmann_json/"
    cat > "$prefix/lib/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" << 'EOF'
if(NOT TARGET nlohmann_json::nlohmann_json)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF
fi

# ---------------------------------------------------------------------------------------------
# morvex.exe, its tests and the add-on zip.
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" "${cross[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$build/install" -DMORVEX_WERROR=ON -DMORVEX_TESTS=ON \
    -DMORVEX_BLENDER=ON -DMORVEX_BLENDER_BUNDLE_BINARY=ON \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/windows/wine-run.sh" \
    -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DZLIB_LIBRARY="$zlib" \
    -DLIBDEFLATE_LIBRARY="$prefix/lib/libdeflate.a" -DLIBDEFLATE_INCLUDE_DIR="$prefix/include" \
    "${launcher[@]}" > /dev/null
cmake --build "$build" -j "$jobs"

# ---------------------------------------------------------------------------------------------
# The release zip: the program, its DLL, the add-on, the README and the licences of what the
# program holds besides our code.
version=$(sed -n 's/^project(morvex VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
release=morvex-$version-windows-x64
stage=$build/release/$release
rm -rf "$build/release" "$build/$release.zip"
mkdir -p "$stage"
cp "$build/morvex.exe" "$build/libtbb12.dll" "$build/blender/morvex-blender-addon.zip" \
    "$root/README.md" "$root/LICENSE" "$stage/"
{
    echo "morvex.exe and libtbb12.dll hold the following libraries, each under its licence."
    for part in "oneTBB (libtbb12.dll):$tbb_source/LICENSE.txt" \
        "libdeflate:$deflate_source/COPYING" \
        "libpng:$png_source/LICENSE" \
        "zlib:/usr/share/doc/libz-mingw-w64-dev/copyright" \
        "MinGW-w64 runtime and winpthreads:/usr/share/doc/mingw-w64-x86-64-dev/copyright" \
        "GCC runtime libraries (libgcc, libstdc++):/usr/share/doc/gcc-mingw-w64-base/copyright"; do
        printf '\n==============================================================================\n'
        printf '%s\n\n' "${part%%:*}"
        cat "${part#*:}"
    done
} > "$stage/LICENSES.txt"
(cd "$build/release" && cmake -E tar cf "$build/$release.zip" --format=zip "$release")

echo "build-windows: $build/$release.zip"
echo "$build/morvex.exe"
