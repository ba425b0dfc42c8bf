#!/usr/bin/env bash
# Rebuilds tests/data/win32_payload.lzma, the payload resource of win32_tests,
# with the host kesmar-pack (cmake --build --preset host first). The file
# contents here are the ones tests/win32/extract_payload_win32_test.cpp expects.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/finst"
printf 'Read me first.\r\n' >"$work/finst/readme.txt"
: >"$work/finst/empty.dat"
printf 'MZ\x00\x01\x02not a real program\x1a\r\n' >"$work/finst/KesmarSetup.exe"
printf 'line one\nline two\r\n\x00\xff' >"$work/finst/data.bin"
(cd "$work" && "$root/build/host/kesmar-pack")
cp "$work/datakes.lzma" "$root/tests/data/win32_payload.lzma"
