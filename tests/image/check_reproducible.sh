#!/usr/bin/env bash
# A clean build of the image and the program from the same tree, in another
# build directory, must give files byte-identical to the test build's own.
#
# usage: check_reproducible.sh SOURCE_DIR IMAGE_DIR WORK_DIR
set -euo pipefail
source_dir=$1 image_dir=$2
work=$(mktemp -d "${3:-/tmp}/korimath-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake -S "$source_dir" -B "$work/second-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/kernel-toolchain.cmake" >/dev/null
cmake --build "$work/second-build" 2>&1 | grep -E 'error|warning' | grep -v 'already merged into INIT' || true
for file in korimath.sys korimath.pdb korimath.exe korimath.exe.pdb; do
    sha256sum "$image_dir/$file" "$work/second-build/$file"
    cmp "$image_dir/$file" "$work/second-build/$file"
done
echo "reproducible: ok"
