# Sourced by the guest's Wine cases: one Wine prefix for 64-bit and 32-bit programs alike (a 64-bit
# prefix runs 32-bit programs as 64-bit Windows does), made once per guest in its memory: about
# 100 s under emulation, quicker than copying a kept one of 1.3 GB over the shared folder.
export WINEPREFIX=/tmp/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64

prepare_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  local start
  start=$(date +%s)
  DISPLAY= timeout 600 "$wine64" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; return 1; }
  # There is no window manager: Wine draws the frames itself.
  DISPLAY= "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$wineserver" -w
  echo "made a Wine prefix in $(( $(date +%s) - start )) s"
}
