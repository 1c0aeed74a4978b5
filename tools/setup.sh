#!/usr/bin/env bash
# Installs what the builds and tests need, and cross-builds OpenSSL for the
# windows build. Safe to run again: each step is skipped when already done.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${KEL_CACHE:-/var/cache/kel}
stamp_dir="$cache/stamps"

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 xvfb x11-utils imagemagick
  dovecot-pop3d dovecot-imapd chrony
  libssl-dev openssl
  locales fonts-ipafont-gothic
  clang libclang-rt-14-dev
  python3 googletest libgtest-dev
)

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root to install: $*" >&2
    exit 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Source entries, so that the openssl source package can be fetched.
src_list=/etc/apt/sources.list.d/kel-deb-src.sources
added_src=0
if [ ! -f "$src_list" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  need_root "a deb-src entry"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src_list"
  added_src=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $added_src -eq 1 ]; then
  need_root "${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Japanese locale: Wine's ANSI code page is 932 only under a generated ja_JP.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  need_root "the ja_JP.UTF-8 locale"
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

# OpenSSL for MinGW, built once per version into the cache.
mkdir -p "$stamp_dir"
"$here/tools/build-openssl-mingw.sh" "$cache"
