#!/usr/bin/env bash
# Installs every Debian package that building morvex and running its tests need, with apt-get
# (as root, or through sudo), on Debian 12 or later. Packages already installed are left as they
# are; apt-get's own progress is shown.
#
#   tools/install-dependencies.sh          the tool: compiler, CMake, Ninja, libdeflate, oneTBB,
#                                          JSON, libpng
#   tools/install-dependencies.sh --all    also everything the tests, benchmarks, sanitizer and
#                                          fuzz builds and the format check use: GoogleTest,
#                                          Google Benchmark, zlib, clang 14 with its
#                                          sanitizer and fuzzer runtimes, clang-format 14, Python
#                                          with the JSON
#                                          schema checker and PIL, assimp, Blender with numpy,
#                                          Node.js and npm; then the glTF validator (npm, into
#                                          build-tools/), so that no test is skipped
#   tools/install-dependencies.sh --windows  what tools/build-windows.sh needs: the MinGW-w64
#                                          cross compiler, its zlib, Wine, the tools that fetch
#                                          and unpack Debian source packages, GoogleTest's source
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake ninja-build libdeflate-dev libtbb-dev nlohmann-json3-dev libpng-dev)
all=false
if [ "${1:-}" = --all ] && [ $# = 1 ]; then
    all=true
    # libclang-rt-14-dev holds the AddressSanitizer, UBSan and libFuzzer runtimes: clang is
    # installed without its recommended packages, which would have brought it.
    packages+=(libgtest-dev libbenchmark-dev zlib1g-dev clang libclang-rt-14-dev
        clang-format-14 python3 python3-jsonschema python3-pil assimp-utils blender python3-numpy)
    # Node.js from elsewhere (a newer release bundles npm) serves as well as Debian's.
    command -v npm > /dev/null || packages+=(nodejs npm)
elif [ "${1:-}" = --windows ] && [ $# = 1 ]; then
    packages=(cmake ninja-build make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
        dpkg-dev debian-archive-keyring googletest nlohmann-json3-dev xz-utils)
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--all | --windows]" >&2
    exit 2
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done

if [ ${#missing[@]} = 0 ]; then
    echo "install-dependencies: all ${#packages[@]} packages are installed"
else
    sudo=()
    if [ "$(id -u)" != 0 ]; then
        if ! command -v sudo > /dev/null; then
            {
                echo "install-dependencies: installing packages needs root, and sudo is not installed."
                echo "As root (su -), run:"
                echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
                echo "then run $0${*:+ $*} again as yourself."
            } >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    echo "install-dependencies: installing ${missing[*]}"
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        "${missing[@]}"
fi

if [ "$all" = true ]; then
    .ci/gltf-validator
fi
