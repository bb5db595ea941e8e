# Sourced by the guest's Wine cases: one Wine prefix for 64-bit and 32-bit programs alike (a 64-bit
# prefix runs 32-bit programs as 64-bit Windows does), made once per Wine version and kept in
# /vmcache, since making it under emulation takes minutes.
export WINEPREFIX=/tmp/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64

prepare_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  local key saved start
  key=$("$wine64" --version | tr -c 'a-zA-Z0-9.\n' _)-$(stat -c %Y /usr/share/wine/wine.inf)
  saved=/vmcache/wineprefix-$key.tar
  if [ -f "$saved" ]; then
    tar -C "${WINEPREFIX%/*}" -xf "$saved" && return 0
  fi
  start=$(date +%s)
  DISPLAY= timeout 900 "$wine64" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; return 1; }
  "$wineserver" -w
  # There is no window manager: Wine draws the frames itself.
  DISPLAY= "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$wineserver" -w
  echo "made a Wine prefix in $(( $(date +%s) - start )) s"
  rm -f /vmcache/wineprefix-*.tar
  tar -C "${WINEPREFIX%/*}" -cf "$saved.tmp" "${WINEPREFIX##*/}" && mv "$saved.tmp" "$saved"
}
