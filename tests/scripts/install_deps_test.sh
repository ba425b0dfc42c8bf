#!/usr/bin/env bash
# scripts/install-deps.sh against stand-in apt-get, dpkg, dpkg-query, id and
# ia32-setup, so that no real package is touched: which apt commands run, with
# or without a target release, for a mirror that fails its update and one that
# does not.
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
stub "$work/scripts/ia32-setup" 'exit 0'
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

# name | update statuses | install status | missing | exit | apt log | stderr
cases="
in sync|0|0|cmake wine|0|update -q;install -y -q --no-install-recommends cmake wine|
one failed update|100 0|0|cmake|0|update -q;update -q;install -y -q --no-install-recommends cmake|
out of sync|100|0|cmake wine|0|update -q;update -q;install -y -q --no-install-recommends -t $codename cmake wine|apt-get update failed twice (exit 100)
nothing missing|100|0||0||
cannot install|0|100|lintian|100|update -q;install -y -q --no-install-recommends lintian|could not install: lintian
"
failures=0
while IFS='|' read -r name updates install missing status log stderr; do
  [ -n "$name" ] || continue
  : >"$work/log"
  actual=0
  STUB_LOG=$work/log STUB_UPDATE=$updates STUB_INSTALL=$install STUB_MISSING=$missing \
    KESMAR_APT_RETRY_PAUSE=0 PATH="$work/bin:$PATH" \
    bash "$work/scripts/install-deps.sh" >"$work/out" 2>"$work/err" || actual=$?
  got=$(sed 's/^apt-get //' "$work/log" | paste -sd';')
  problem=
  [ "$actual" = "$status" ] || problem="exit $actual, expected $status"
  [ "$got" = "$log" ] || problem="${problem:+$problem; }apt calls [$got], expected [$log]"
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
[ "$failures" = 0 ] && echo "install-deps: 5 cases as expected"
