#!/usr/bin/env bash
# Rebuilds the fuzz seed corpora in tests/fuzz/corpus/ with the host kesmar-pack
# (cmake --build --preset host first): small real containers, the same for both
# container targets, and stand-in launcher stubs for the writer's target.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pack() {  # pack <seed name>: packs $work/finst into every corpus, then empties it
  (cd "$work" && "$root/build/host/kesmar-pack")
  for target in fuzz_container fuzz_extract; do
    mkdir -p "$root/tests/fuzz/corpus/$target"
    cp "$work/datakes.lzma" "$root/tests/fuzz/corpus/$target/$1.lzma"
  done
  rm -rf "$work/finst" "$work/datakes.lzma"
}

mkdir "$work/finst"
printf 'Read me first.\r\n' >"$work/finst/readme.txt"
printf 'MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xffPE\0\0' >"$work/finst/KesmarSetup.exe"
head -c 1500 /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf >"$work/finst/Sans.ttf"
head -c 600 /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf >"$work/finst/Mono.TTF"
pack setup_with_fonts

mkdir "$work/finst"
: >"$work/finst/empty.dat"
printf 'a' >"$work/finst/a"
pack empty_file_and_one_byte

mkdir "$work/finst"
long=$(printf 'n%.0s' $(seq 250))
printf 'x' >"$work/finst/$long.txt"
printf 'abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc' >"$work/finst/kesmarsetup.exe"
pack long_name_and_lookalike

for target in fuzz_container fuzz_extract; do
  cp "$root/tests/data/win32_payload.lzma" "$root/tests/fuzz/corpus/$target/win32_payload.lzma"
done

# Stubs: the test suite's stand-in, plain, holding a payload already, and signed.
cat >"$work/stubs.cpp" <<'CPP'
#include <fstream>
#include "tests/support/pe_image.h"
using namespace kesmar::testing;
int main(int, char** argv) {
  const StubShape shapes[] = {StubShape(), StubShape{2, true, "old payload", "", false},
                              StubShape{2, true, "", std::string(16, 'C'), false}};
  const char* names[] = {"plain.exe", "with_payload.exe", "signed.exe"};
  for (int i = 0; i < 3; ++i) {
    const auto image = LauncherStubImage(shapes[i]);
    std::ofstream(std::string(argv[1]) + "/" + names[i], std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  }
}
CPP
mkdir -p "$root/tests/fuzz/corpus/fuzz_launcher_writer"
g++ -std=c++17 -I"$root" -o "$work/stubs" "$work/stubs.cpp" "$root/tests/support/pe_image.cpp" \
  "$root/pe/resource_tree.cpp" "$root/pe/pe_headers.cpp"
"$work/stubs" "$root/tests/fuzz/corpus/fuzz_launcher_writer"
