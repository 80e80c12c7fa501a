#!/usr/bin/env bash
# The release bundle holds exactly the image, the operator script (CRLF), the
# operators' README and SHA256SUMS that match them, and is reproducible.
#
# usage: test_bundle.sh SOURCE_DIR KORIMATH_SYS WORK_DIR
set -euo pipefail
source_dir=$1 image=$(realpath "$2")
work=$(mktemp -d "${3:-/tmp}/korimath-bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

KORIMATH_BUNDLE_DIR=$work/one "$source_dir/scripts/bundle" "$image"
KORIMATH_BUNDLE_DIR=$work/two "$source_dir/scripts/bundle" "$image" >/dev/null
zip_file=$work/one/korimath-1.0.0.2.zip
cmp "$zip_file" "$work/two/korimath-1.0.0.2.zip" || fail "two bundles of one image differ"
echo "ok   reproducible"

mkdir "$work/unpacked" && (cd "$work/unpacked" && unzip -q "$zip_file")
listing=$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./korimath-1.0.0.2/README.txt ./korimath-1.0.0.2/SHA256SUMS ./korimath-1.0.0.2/korimath.cmd ./korimath-1.0.0.2/korimath.sys " ] \
    || fail "unexpected contents: $listing"
echo "ok   contents"
cd "$work/unpacked/korimath-1.0.0.2"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(wc -l < SHA256SUMS)" -eq 3 ] || fail "SHA256SUMS does not cover the three files"
echo "ok   SHA256SUMS"
cmp korimath.sys "$image" || fail "the bundled image is not the given one"
[ "$(grep -c $'\r$' korimath.cmd)" -eq "$(wc -l < korimath.cmd)" ] || fail "korimath.cmd is not CRLF throughout"
grep -q "CR4_VMXE" README.txt || fail "README.txt lacks the value table"
echo "ok   image, script and README"
