#!/usr/bin/env bash
# kesmar-pack as a person runs it: progress on a terminal only, and the one-line reason when the disk refuses a write.
#   kesmar_pack_terminal_test.sh KESMAR_PACK WORKDIR
set -euo pipefail
pack=$1 work=$2
rm -rf "$work" && mkdir -p "$work/finst" && cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Enough data that the encoder reports more than once.
head -c 2000000 /dev/urandom > finst/noise.bin
printf 'MZ setup' > finst/KesmarSetup.exe

# On a pseudo-terminal: redrawn in place with \r, then wiped.
script -qec "'$pack' pack finst -o tty.lzma" /dev/null > tty.log || fail "pack under script exited $?"
grep -q $'\rpacking ' tty.log || fail "no progress line on a terminal: $(od -c tty.log | head -5)"
grep -q '100%' tty.log || fail "progress never reached 100%"
grep -qE 'i?B/s' tty.log || fail "no rate in the progress line"
# The line is wiped before the summary: blanks, then a carriage return.
grep -q $' \rtty.lzma: ' tty.log || fail "progress line not cleared before the summary"

script -qec "'$pack' extract tty.lzma out_tty" /dev/null > tty_extract.log || fail "extract under script"
grep -q $'\rextracting ' tty_extract.log || fail "no extraction progress on a terminal"
cmp -s out_tty/noise.bin finst/noise.bin || fail "extracted data differs"

# On a pipe: nothing at all on stderr.
"$pack" pack finst -o pipe.lzma 2> pipe.err | cat > pipe.out
[ ! -s pipe.err ] || fail "stderr not empty on a pipe: $(cat pipe.err)"
cmp -s pipe.lzma tty.lzma || fail "the terminal changed what was written"
"$pack" extract pipe.lzma out_pipe 2> pipe_extract.err | cat > /dev/null
[ ! -s pipe_extract.err ] || fail "extract wrote to stderr on a pipe"

# A write the system refuses (the file-size limit stands in for a full disk).
set +e
(ulimit -f 100; trap '' XFSZ; exec "$pack" pack finst -o small.lzma) 2> full.err
code=$?
set -e
[ "$code" = 1 ] || fail "refused write exited $code"
[ "$(cat full.err)" = "small.lzma: cannot write (File too large)" ] || fail "message: $(cat full.err)"
[ ! -e small.lzma ] && [ ! -e small.lzma.tmp ] || fail "a refused write left a file behind"

# Usage errors from the real program.
set +e
"$pack" frobnicate 2>/dev/null; [ $? = 2 ] || fail "unknown command did not exit 2"
"$pack" list 2>/dev/null; [ $? = 2 ] || fail "list without FILE did not exit 2"
set -e
echo "kesmar-pack terminal checks passed"
