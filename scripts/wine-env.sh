# Sourced by the scripts that run Windows programs: one Wine prefix for the project, no debug
# noise, and no offer to install Mono or Gecko (the launcher needs neither).
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/quellorn-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine makes the prefix itself, but not the folders above it.
mkdir -p "$(dirname "$WINEPREFIX")"
