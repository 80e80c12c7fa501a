#!/usr/bin/env bash
# Two clean builds of the image and the program from the same tree, in different build
# directories, must give byte-identical files.
set -euo pipefail
source_dir=$1
work=$(mktemp -d "${2:-/tmp}/korimath-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
for build in first second-build; do
    cmake -S "$source_dir" -B "$work/$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/kernel-toolchain.cmake" >/dev/null
    cmake --build "$work/$build" 2>&1 | grep -E 'error|warning' | grep -v 'already merged into INIT' || true
done
for file in korimath.sys korimath.pdb korimath.exe korimath.exe.pdb; do
    sha256sum "$work/first/$file" "$work/second-build/$file"
    cmp "$work/first/$file" "$work/second-build/$file"
done
echo "reproducible: ok"
