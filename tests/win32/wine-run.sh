#!/bin/sh
# Runs a Windows test program under Wine: wine-run.sh PREFIX ARCH PROGRAM [ARGS...]
# PREFIX is used unless $WINEPREFIX is set, and made once with wineboot. ARCH (i686 or x86_64)
# picks Wine's 32- or 64-bit loader. Needs an X display ($DISPLAY), e.g. from xvfb-run.
set -eu
prefix=$1 arch=$2
shift 2

: "${WINEPREFIX:=$prefix}"
# Never offer to download Mono or Gecko, nor add menu entries and file types to the user's desktop;
# keep Wine's own chatter out of the test output.
export WINEPREFIX WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export WINEDEBUG="${WINEDEBUG:--all}"
# The probes under test talk to loopback servers directly, whatever proxy the shell has set.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY

if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no X display; run under xvfb-run" >&2
  exit 1
fi

case $arch in
x86_64)
  loader=/usr/lib/wine/wine64 WINEARCH=win64 ;;
*)
  loader=/usr/lib/wine/wine WINEARCH=win32 ;;
esac
export WINEARCH
if ! "$loader" --version >/dev/null 2>&1; then
  echo "wine-run.sh: $loader cannot run here (a 32-bit loader needs the kernel's 32-bit support;" \
    "the windows-x64 preset runs the same tests with 64-bit Wine)" >&2
  exit 1
fi

# One prefix for every test; made by the first, under a lock.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$loader" wineboot -i >/dev/null 2>&1
  ) 9>"$WINEPREFIX.lock"
fi
exec "$loader" "$@"
