# Sourced by the Windows build's test emulators: the project's Wine prefix made ready once, however
# many tests start at the same moment on a fresh machine: booted, and Wine's missing tar.exe
# replaced by the tests' stand-in built beside the program about to run (when there is one).
# Takes turns under a lock beside the prefix, so no two tests boot it or copy the stand-in at once.
. "$(dirname "$0")/wine-env.sh"
prepare_prefix() {  # the program about to run
  local standin system
  standin="$(dirname "$1")/quellorn-test-tar.exe"
  system="$WINEPREFIX/drive_c/windows/system32"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Its services' output goes nowhere: kept open, it would hold CTest's pipe for ever.
    wineboot >/dev/null 2>&1 </dev/null
  fi
  if [ -f "$standin" ] && ! cmp -s "$standin" "$system/tar.exe"; then
    cp "$standin" "$system/tar.exe.new" && mv -f "$system/tar.exe.new" "$system/tar.exe"
  fi
  exec 9>&-
}
