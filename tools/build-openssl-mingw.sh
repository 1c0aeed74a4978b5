#!/usr/bin/env bash
# Cross-builds static OpenSSL for the windows build from Debian's source
# package into CACHE/openssl-mingw64-VERSION, and points
# CACHE/openssl-mingw64 at it. A version already built is reused.
set -euo pipefail

cache=${1:-/var/cache/kel}
mkdir -p "$cache"
link="$cache/openssl-mingw64"

# The source version apt would fetch; read from the package lists, no download.
dsc=$(apt-get source --print-uris openssl 2>/dev/null | awk '$2 ~ /^openssl_.*\.dsc$/ {print $2; exit}' || true)
ver=${dsc#openssl_}
ver=${ver%.dsc}
if [ -z "$ver" ]; then
  # No source entry reachable: keep whatever build is there.
  if [ -f "$link/lib/libssl.a" ]; then exit 0; fi
  echo "setup: no openssl source package found (is there a deb-src entry?)" >&2
  exit 1
fi
upstream=${ver%-*}
upstream=${upstream#*:}
dest="$cache/openssl-mingw64-$ver"

if [ ! -f "$dest/lib/libssl.a" ] || [ ! -f "$dest/lib/libcrypto.a" ]; then
  echo "setup: cross-building OpenSSL $ver for MinGW (a few minutes, once)"
  work=$(mktemp -d "$cache/openssl-build.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  # Only the upstream tarball is needed; a missing Debian diff is no matter.
  apt-get source --download-only openssl >/dev/null 2>&1 || true
  if [ ! -f "openssl_${upstream}.orig.tar.gz" ]; then
    echo "setup: could not fetch openssl_${upstream}.orig.tar.gz" >&2
    exit 1
  fi
  tar xzf "openssl_${upstream}.orig.tar.gz"
  cd "openssl-${upstream}"
  CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
  RANLIB=x86_64-w64-mingw32-ranlib RC=x86_64-w64-mingw32-windres \
    ./Configure mingw64 no-shared no-tests no-module \
      --prefix="$dest" --libdir=lib >/dev/null
  make -j"$(nproc)" build_libs >/dev/null 2>&1
  rm -rf "$dest"
  make install_dev >/dev/null
  echo "setup: OpenSSL for MinGW in $dest"
fi
ln -sfn "$dest" "$link"
