#!/usr/bin/env bash
# scripts/install-deps.sh against stand-in apt-get, dpkg, dpkg-query, id and
# ia32-setup, so that no real package is touched: which apt commands run, with
# or without a target release, for a mirror that fails its update and one that
# does not; and that a kernel without 32-bit support gets the emulator
# registered on every run, as after a reboot, not only when it is installed.
#   install_deps_test.sh INSTALL_DEPS WORKDIR
set -euo pipefail
script=$1 work=$2
[ -f /etc/debian_version ] || { echo "skipped: not a Debian machine"; exit 77; }
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
rm -rf "$work" && mkdir -p "$work/scripts" "$work/bin"
cp "$script" "$work/scripts/install-deps.sh"

# Every stand-in writes its command line to $STUB_LOG.
# They are POSIX sh: the script starts dozens of them, and sh starts fastest.
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$1" && chmod +x "$1"; }
# The kernel runs 32-bit programs itself unless $STUB_EMULATED is 1.
stub "$work/scripts/ia32-setup" '
echo "ia32-setup${1:+ $1}" >>"$STUB_LOG"
[ "$1" = --native ] && [ "$STUB_EMULATED" = 1 ] && exit 1
exit 0'
stub "$work/bin/id" 'echo 0'
stub "$work/bin/dpkg" '[ "$1" = --print-foreign-architectures ] && echo i386; exit 0'
# Every package asked for is installed unless named in $STUB_MISSING.
stub "$work/bin/dpkg-query" 'shift 2
for p; do case " $STUB_MISSING " in *" $p "*) ;; *) echo "installed ${p%%:*} $p";; esac; done'
# Each update takes the next status from $STUB_UPDATE (the last one repeats).
stub "$work/bin/apt-get" '
echo "apt-get $*" >>"$STUB_LOG"
if [ "$1" = update ]; then
  n=$(grep -c "^apt-get update" "$STUB_LOG")
  for status in $STUB_UPDATE; do n=$((n - 1)); [ "$n" = 0 ] && break; done
  exit "$status"
fi
exit "$STUB_INSTALL"'

# name | kernel | update statuses | install status | missing | exit | calls | stderr
# (kernel: native, or emulated through qemu-user; qemu-user counts as installed
# unless it is missing)
cases="
in sync|native|0|0|cmake wine|0|update -q;install -y -q --no-install-recommends cmake wine;ia32-setup --native|
one failed update|native|100 0|0|cmake|0|update -q;update -q;install -y -q --no-install-recommends cmake;ia32-setup --native|
out of sync|native|100|0|cmake wine|0|update -q;update -q;install -y -q --no-install-recommends -t $codename cmake wine;ia32-setup --native|apt-get update failed twice (exit 100)
nothing missing|native|100|0||0|ia32-setup --native|
cannot install|native|0|100|lintian|100|update -q;install -y -q --no-install-recommends lintian|could not install: lintian
emulated, nothing missing|emulated|0|0||0|ia32-setup --native;ia32-setup|
emulated, cmake missing|emulated|0|0|cmake|0|update -q;install -y -q --no-install-recommends cmake;ia32-setup --native;ia32-setup|
"
failures=0
while IFS='|' read -r name kernel updates install missing status log stderr; do
  [ -n "$name" ] || continue
  : >"$work/log"
  actual=0
  STUB_LOG=$work/log STUB_UPDATE=$updates STUB_INSTALL=$install STUB_MISSING=$missing \
    STUB_EMULATED=$([ "$kernel" = emulated ] && echo 1 || echo 0) \
    KESMAR_APT_RETRY_PAUSE=0 PATH="$work/bin:$PATH" \
    bash "$work/scripts/install-deps.sh" >"$work/out" 2>"$work/err" || actual=$?
  got=$(sed 's/^apt-get //' "$work/log" | paste -sd';')
  problem=
  [ "$actual" = "$status" ] || problem="exit $actual, expected $status"
  [ "$got" = "$log" ] || problem="${problem:+$problem; }calls [$got], expected [$log]"
  if [ -n "$stderr" ]; then
    grep -qF "install-deps: $stderr" "$work/err" || problem="${problem:+$problem; }stderr lacks '$stderr'"
  elif [ -s "$work/err" ]; then
    problem="${problem:+$problem; }unexpected stderr: $(head -2 "$work/err")"
  fi
  if [ -n "$problem" ]; then
    echo "FAIL $name: $problem" >&2
    failures=$((failures + 1))
  fi
done <<<"$cases"
[ "$failures" = 0 ] && echo "install-deps: $(grep -c '|' <<<"$cases") cases as expected"
