# Sourced by the run and test scripts: how Wine is run for Kel.
# Japanese ANSI code page (932), no Mono/Gecko prompts, the trace on stderr.
KEL_WINE=/usr/lib/wine/wine64
KEL_WINESERVER=/usr/lib/wine/wineserver
export LANG=ja_JP.UTF-8
unset LC_ALL
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all,warn+debugstr}

# kel_prefix DIR: a Wine prefix in DIR, made once, whose programs run in a
# virtual desktop with a taskbar (so that tray icons are visible).
kel_prefix() {
  local dir=$1
  export WINEPREFIX=$dir
  if [ ! -f "$dir/.kel-ready" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    WINEDEBUG=-all "$KEL_WINE" wineboot -i >/dev/null 2>&1
    WINEDEBUG=-all "$KEL_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
    WINEDEBUG=-all "$KEL_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 800x600 /f >/dev/null 2>&1
    "$KEL_WINESERVER" -w
    touch "$dir/.kel-ready"
  fi
}

# kel_prefix_stop: ends the wineserver of this prefix (and its processes).
kel_prefix_stop() {
  "$KEL_WINESERVER" -k 2>/dev/null || true
}
