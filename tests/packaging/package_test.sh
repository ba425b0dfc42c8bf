#!/usr/bin/env bash
# The Debian package on a machine without this repository: built by CPack from
# the host tree, clean under lintian, built again with the same bytes, unpacked
# with dpkg-deb -x, and its
# kesmar-pack, run with no compiler on PATH, makes a launcher from a folder
# that is byte for byte the build's own, that it lists and verifies, and
# that its try runs under Wine, with the kesmar-try-watch.exe of the package.
#   package_test.sh HOST_BUILD WORKDIR TRY_CACHE FINST BUILD_LAUNCHER
# TRY_CACHE is where try keeps its template prefix.
# Exit 77 (skipped) when a tool it needs is missing.
set -euo pipefail
host=$1 work=$2 try_cache=$3 finst=$4 expected=$5
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"

umask 022
cpack --config "$host/CPackConfig.cmake" -B "$work/out" > cpack.log 2>&1 || fail "cpack: $(tail -3 cpack.log)"
deb=$(ls out/kesmar-pack_*_amd64.deb) || fail "no kesmar-pack_<version>_amd64.deb"

# The same tree packed again, a second later and under umask 077: every
# archive member the same, byte for byte, and so are their headers but for
# the mode, the one field the umask decides.
sleep 1
(umask 077 && cpack --config "$host/CPackConfig.cmake" -B "$work/again" > cpack-again.log 2>&1) ||
  fail "cpack again: $(tail -3 cpack-again.log)"
again=$(ls again/kesmar-pack_*_amd64.deb)
[ "$(ar tv "$deb" | cut -c10-)" = "$(ar tv "$again" | cut -c10-)" ] ||
  fail "the archive members differ: $(diff <(ar tv "$deb") <(ar tv "$again") | tail -4)"
for member in $(ar t "$deb"); do
  cmp -s <(ar p "$deb" "$member") <(ar p "$again" "$member") ||
    fail "$member differs between two builds: $(diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$again") | head -6)"
done
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "Depends lacks what dpkg-shlibdeps finds: $(dpkg-deb -f "$deb" Depends)"
[ "$(dpkg-deb -f "$deb" Recommends)" = "wine, bubblewrap" ] ||
  fail "Recommends: $(dpkg-deb -f "$deb" Recommends), not wine, bubblewrap"
dpkg-deb -f "$deb" Suggests | grep -q 'xvfb' || fail "Suggests lacks xvfb: $(dpkg-deb -f "$deb" Suggests)"
lintian "$deb" > lintian.log 2>&1 || true
! grep -q '^E: ' lintian.log || fail "lintian: $(grep '^E: ' lintian.log | head -3)"

dpkg-deb -x "$deb" root
tool=$work/root/usr/bin/kesmar-pack
[ -f root/usr/share/man/man1/kesmar-pack.1.gz ] || fail "no man page"
for doc in copyright THIRD-PARTY.md README.md docs/signing.md; do
  [ -f "root/usr/share/doc/kesmar-pack/$doc" ] || fail "no $doc in /usr/share/doc/kesmar-pack"
done
# No compiler, no cmake, no python: only the unpacked tool itself.
PATH=/nonexistent "$tool" launcher "$finst" -o Setup.exe > made.txt || fail "kesmar-pack launcher failed"
grep -q '^Setup.exe: launcher, stub ' made.txt || fail "kesmar-pack said: $(cat made.txt)"
cmp -s Setup.exe "$expected" || fail "the packaged tool's launcher differs from the build's"
PATH=/nonexistent "$tool" verify Setup.exe > verify.txt || fail "verify: $(cat verify.txt)"
PATH=/nonexistent "$tool" list Setup.exe | grep -q '^KesmarSetup.exe ' || fail "list shows no KesmarSetup.exe"

report="$work/report.txt"
# Without the sandbox, the setup program inside sends its report out through Z:.
KESMAR_SAMPLE_REPORT="Z:${report//\//\\}" XDG_CACHE_HOME=$try_cache "$tool" try Setup.exe --timeout 120 --no-sandbox \
  > try.txt || fail "kesmar-pack try exited $?: $(cat try.txt)"
[ -f "$report" ] || fail "the setup program inside did not run"
# In the sandbox, neither the variable nor the host's folders reach it: its report stays in the temporary folder.
rm -f "$report"
status=0
KESMAR_SAMPLE_REPORT="Z:${report//\//\\}" XDG_CACHE_HOME=$try_cache "$tool" try Setup.exe --timeout 120 > sandboxed.txt ||
  status=$?
[ $status = 1 ] && [ ! -e "$report" ] && grep -q '^  sandbox  *bubblewrap: the host read-only, no network$' sandboxed.txt &&
  grep -q '^  result  *failed: it left files in the temporary folder$' sandboxed.txt ||
  fail "kesmar-pack try in its sandbox exited $status: $(cat sandboxed.txt)"
echo "package: $(basename "$deb") lintian-clean, the same bytes when built again, its launcher equals the build's and runs under its try"
