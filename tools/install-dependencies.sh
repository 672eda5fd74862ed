#!/usr/bin/env bash
# Installs every Debian package that building morvex and running its tests need, with apt-get
# (as root, or through sudo). Packages already installed are left as they are.
#
#   tools/install-dependencies.sh          the tool: compiler, CMake, Ninja, libpng, oneTBB, JSON
#   tools/install-dependencies.sh --all    also GoogleTest, Google Benchmark, zlib, clang and
#                                          clang-format 14 and the JSON schema checker of the tests
#   tools/install-dependencies.sh --windows  what tools/build-windows.sh needs: the MinGW-w64
#                                          cross compiler, its zlib, Wine, the tools that fetch
#                                          and unpack Debian source packages, GoogleTest's source
set -euo pipefail

packages=(g++ cmake ninja-build libpng-dev libtbb-dev nlohmann-json3-dev)
if [ "${1:-}" = --all ]; then
    packages+=(libgtest-dev libbenchmark-dev zlib1g-dev clang clang-format-14 python3
        python3-jsonschema)
elif [ "${1:-}" = --windows ]; then
    packages=(cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
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
    exit 0
fi

sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
echo "install-dependencies: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" > /dev/null
