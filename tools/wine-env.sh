# Sourced by the run and test scripts: how Wine is run for Kel, from
# tools/wine.env (KEL_WINE and KEL_WINESERVER are the programs). KEL_LANG,
# when set, is the locale instead of the file's: C.UTF-8 makes Wine an
# English Windows (code page 1252).
while read -r _kel_line; do
  _kel_key=${_kel_line%%=*}
  _kel_value=${_kel_line#*=}
  case $_kel_line in
    '' | '#'*) ;;
    KEL_*) printf -v "$_kel_key" '%s' "$_kel_value" ;;
    WINEDEBUG=*) export WINEDEBUG=${WINEDEBUG:-$_kel_value} ;;
    LANG=*) export LANG=${KEL_LANG:-$_kel_value} ;;
    *) export "$_kel_key=$_kel_value" ;;
  esac
done < "$(dirname "${BASH_SOURCE[0]}")/wine.env"
unset LC_ALL _kel_line _kel_key _kel_value

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
    # Windows links its interface fonts to a Japanese one on any language;
    # Wine does so only under code page 932, so a title bar drew boxes on 1252.
    local face
    for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
      WINEDEBUG=-all "$KEL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$face" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1
    done
    "$KEL_WINESERVER" -w
    touch "$dir/.kel-ready"
  fi
}

# kel_prefix_dpi DPI: the system DPI of the current prefix (LogPixels), for
# the processes started after it; 96 is Wine's own.
kel_prefix_dpi() {
  local dpi=$1
  [ -f "$WINEPREFIX/.kel-dpi-$dpi" ] && return 0
  WINEDEBUG=-all "$KEL_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$KEL_WINESERVER" -w
  rm -f "$WINEPREFIX"/.kel-dpi-*
  touch "$WINEPREFIX/.kel-dpi-$dpi"
}

# kel_prefix_stop: ends the wineserver of this prefix (and its processes).
kel_prefix_stop() {
  "$KEL_WINESERVER" -k 2>/dev/null || true
}
