#!/usr/bin/env bash
# Installs, only when missing, every Debian package that building, testing and benchmarking need.
set -euo pipefail

packages=(
  build-essential cmake make python3 git
  # mingw-w64 in both thread models: posix for the test programs (GoogleTest),
  # win32 for the launcher stub.
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev
  # kesmar-pack.exe for 64-bit Windows, in the win32 thread model.
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  lzma-dev liblzma-dev xz-utils 7zip
  googletest libgtest-dev
  fonts-dejavu-core
  # Fonts with family names of their own for the per-user font test (Debian's python3).
  python3-fonttools
  clang-14 libclang-rt-14-dev llvm-14
  wine wine64 wine32:i386
  # kesmar-pack try --screenshot: a virtual X screen and its capture (the tests of try).
  xvfb x11-apps
  # kesmar-pack try runs each launcher in a sandbox that bubblewrap makes.
  bubblewrap
  pkg-config binutils file time
  # kesmar-pack parses its options with CLI11 (header only).
  libcli11-dev
  # Authenticode signing of launchers (scripts/sign-launcher) and the tests of it.
  osslsigncode openssl
  # make package: CPack's dependency list comes from dpkg-shlibdeps; the test runs lintian.
  dpkg-dev lintian
)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Where the kernel cannot run 32-bit programs, qemu-user runs them; the one of
# Debian 12 (7.2) crashes a process that ends while other threads are alive,
# so qemu-user 8 or later comes from the backports suite of the archive this
# machine already uses. That suite is pinned low: nothing else comes from it.
# The kernel forgets the emulator's registration at every boot, so it is
# made again on every run that needs it, not only when the package comes in.
emulator_minimum=1:8
install_emulator() {
  "$root/scripts/ia32-setup" --native && return 0
  local installed
  installed=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  if [ -z "$installed" ] || ! dpkg --compare-versions "$installed" ge "$emulator_minimum"; then
    if [ "$(id -u)" != 0 ]; then
      echo "install-deps: this kernel cannot run 32-bit programs; qemu-user $emulator_minimum or later is needed" \
           "from ${codename}-backports: run this script as root" >&2
      exit 1
    fi
    add_backports
    apt_update
    apt_install "qemu-user/${codename}-backports"
  fi
  "$root/scripts/ia32-setup"
}

# A mirror in the middle of a sync can fail one index (a size mismatch on one
# architecture's list), and apt-get update then exits 100. It is tried once
# more; if it fails again, the lists there are serve, and installs take the
# release's own suite as their target: without that, amd64 libraries can come
# from a suite whose i386 list is missing, and the i386 twins of Multi-Arch:
# same packages then cannot match their versions.
target_release=
apt_update() {
  local status=0
  target_release=
  apt-get update -q || status=$?
  [ "$status" = 0 ] && return 0
  sleep "${KESMAR_APT_RETRY_PAUSE:-5}"
  status=0
  apt-get update -q || status=$?
  [ "$status" = 0 ] && return 0
  target_release=$codename
  echo "install-deps: apt-get update failed twice (exit $status); going on with the package lists there are," \
       "installing from $codename itself" >&2
}

# Installs the named packages; on failure, says which of them were wanted and
# keeps apt's exit status (apt itself has said why).
apt_install() {
  local status=0
  apt-get install -y -q --no-install-recommends ${target_release:+-t "$target_release"} "$@" || status=$?
  if [ "$status" != 0 ]; then
    echo "install-deps: could not install: $*" >&2
    exit "$status"
  fi
}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")

# The URI and keyring of the source that serves the release itself, from
# deb822 files or one-line entries.
main_source() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v suite="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uri != "") { print uri " " key; found = 1; exit }
        types = suites = uri = key = ""
      }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "types:" { types = $0; sub(/^[^:]*:[ \t]*/, "", types) }
      tolower($1) == "suites:" { suites = $0; sub(/^[^:]*:[ \t]*/, "", suites) }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "signed-by:" { key = $2 }
      END { if (!found) flush() }' "$file"
  done | head -n 1 | grep . && return 0
  local line
  line=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
         grep -E "^[[:space:]]*deb[[:space:]]" | grep -E "[[:space:]]${codename}[[:space:]]" | head -n 1) || return 1
  local key uri
  key=$(sed -n 's/.*signed-by=\([^] ]*\).*/\1/p' <<<"$line")
  uri=$(sed -e 's/\[[^]]*\]//' <<<"$line" | awk '{print $2}')
  [ -n "$uri" ] && echo "$uri ${key}"
}

add_backports() {
  local list=/etc/apt/sources.list.d/kesmar-backports.sources
  local pins=/etc/apt/preferences.d/kesmar-backports
  if ! grep -rqsE "(^|[[:space:]])${codename}-backports([[:space:]]|$)" \
         /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
    local source uri key
    source=$(main_source) || { echo "install-deps: no apt source for $codename to take the backports suite from" >&2; exit 1; }
    read -r uri key <<<"$source"
    {
      echo "Types: deb"
      echo "URIs: $uri"
      echo "Suites: ${codename}-backports"
      echo "Components: main"
      [ -n "$key" ] && echo "Signed-By: $key"
    } >"$list"
  fi
  if [ ! -f "$pins" ]; then
    cat >"$pins" <<PINS
# Nothing comes from ${codename}-backports but what scripts/install-deps.sh names.
Package: *
Pin: release n=${codename}-backports
Pin-Priority: 1

Package: qemu-user
Pin: release n=${codename}-backports
Pin-Priority: 500
PINS
  fi
}

missing=()
need_i386=0
if ! dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
  need_i386=1
fi
# One query for all: a package counts as installed under its bare name and
# under name:architecture.
declare -A installed=()
while read -r state name qualified; do
  [ "$state" = installed ] && installed[$name]=1 installed[$qualified]=1
done < <(dpkg-query -W -f='${db:Status-Status} ${Package} ${Package}:${Architecture}\n' "${packages[@]}" 2>/dev/null || true)
for p in "${packages[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ]; then
  install_emulator
  exit 0
fi

if [ ! -f /etc/debian_version ] || [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing packages: ${missing[*]:-none}" >&2
  [ "$need_i386" = 1 ] && echo "install-deps: the i386 architecture is not enabled (dpkg --add-architecture i386)" >&2
  echo "install-deps: run this script as root on Debian 12 to install them." >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$need_i386" = 1 ]; then
  dpkg --add-architecture i386
fi
apt_update
[ "${#missing[@]}" = 0 ] || apt_install "${missing[@]}"
install_emulator
